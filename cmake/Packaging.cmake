# Installation and the Debian packages.
#
# Included by the top-level CMakeLists.txt after every target exists. Everything is installed in
# one of two components, which CPack turns into one Debian package each:
#   cli  -> kv6251-cli_<version>_<arch>.deb: kv6251-cli and kv6251-boxsim with their manual pages,
#           the systemd units of the nightly check and the Ansible examples. No Qt, so a
#           headless host can run it.
#   gui  -> kv6251_<version>_<arch>.deb: the window kv6251, its manual page, the desktop entry, the
#           icons and the AppStream metadata. Depends on kv6251-cli of the same version.
# Each package carries its own /usr/share/doc/<package>/ with the copyright file (made from
# LICENSE) and the changelog (packaging/changelog). `cmake --install` without --component
# installs both. scripts/check-package.sh builds, lints, installs and checks the packages.

include(GNUInstallDirs)

set(KV_APP_ID "com.norvell.kv6251")
set(KV_VENDOR "Norvell")
set(KV_CONTACT_EMAIL "support@norvell.com")
set(KV_CONTACT "${KV_VENDOR} <${KV_CONTACT_EMAIL}>")
set(KV_HOMEPAGE "https://www.norvell.com/kv6251")
set(KV_UPSTREAM_NAME "kv6251")
set(KV_CLI_PACKAGE "kv6251-cli")
set(KV_GUI_PACKAGE "kv6251")
# Where the packages are installed; the AppStream metadata links to the terms installed there.
set(KV_PACKAGE_PREFIX "/usr")

set(KV_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(KV_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(KV_MAN_DIR ${PROJECT_SOURCE_DIR}/docs/man)
set(KV_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
# Both files are read here rather than configured, so a change to either has to configure again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_LICENSE} ${KV_CHANGELOG})

# A component exists when something of it is built: without Qt (KV_BUILD_APP=OFF) only cli.
set(KV_PACKAGE_COMPONENTS "")
if(TARGET kv6251-cli OR TARGET kv6251-boxsim)
    list(APPEND KV_PACKAGE_COMPONENTS cli)
endif()
if(TARGET kv6251)
    list(APPEND KV_PACKAGE_COMPONENTS gui)
endif()

# ---- the changelog: the package's version and the release date -----------------------------
# The packages' changelog names the version it describes; a package whose changelog describes
# another version would mislead whoever reads it, so configuration stops until both agree.
file(STRINGS ${KV_CHANGELOG} KV_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT KV_CHANGELOG_HEAD MATCHES "^([a-z0-9][a-z0-9.+-]*) \\(([^)]+)\\) ")
    message(FATAL_ERROR "${KV_CHANGELOG}: the first line is not a changelog entry's heading: ${KV_CHANGELOG_HEAD}")
endif()
if(NOT CMAKE_MATCH_2 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${KV_CHANGELOG} describes version ${CMAKE_MATCH_2}, the project is version "
                        "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at the top of the changelog.")
endif()
# The release date shown in the AppStream metadata is the date of that entry (its trailer line,
# " -- Name <address>  Sat, 01 Jun 2024 12:00:00 +0000").
file(STRINGS ${KV_CHANGELOG} KV_CHANGELOG_TRAILER REGEX "^ -- " LIMIT_COUNT 1)
set(KV_MONTHS Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT KV_CHANGELOG_TRAILER MATCHES ">  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "${KV_CHANGELOG}: no date in the first entry's trailer line: ${KV_CHANGELOG_TRAILER}")
endif()
set(KV_RELEASE_DAY ${CMAKE_MATCH_1})
set(KV_RELEASE_YEAR ${CMAKE_MATCH_3})
list(FIND KV_MONTHS ${CMAKE_MATCH_2} KV_RELEASE_MONTH)
if(KV_RELEASE_MONTH LESS 0)
    message(FATAL_ERROR "${KV_CHANGELOG}: unknown month in ${KV_CHANGELOG_TRAILER}")
endif()
math(EXPR KV_RELEASE_MONTH "${KV_RELEASE_MONTH} + 1")
foreach(part KV_RELEASE_DAY KV_RELEASE_MONTH)
    string(LENGTH "${${part}}" length)
    if(length EQUAL 1)
        set(${part} "0${${part}}")
    endif()
endforeach()
set(KV_RELEASE_DATE "${KV_RELEASE_YEAR}-${KV_RELEASE_MONTH}-${KV_RELEASE_DAY}")

# ---- the copyright file, made from LICENSE ---------------------------------------------------
# Debian's machine-readable format: the holder and years from LICENSE's copyright line, the whole
# of LICENSE as the licence text (each line indented by one space, a blank line written " .").
file(READ ${KV_LICENSE} KV_LICENSE_TEXT)
if(NOT KV_LICENSE_TEXT MATCHES "Copyright \\([Cc]\\) ([0-9][0-9, -]*[0-9]) ([^.\n]+)")
    message(FATAL_ERROR "${KV_LICENSE} has no line \"Copyright (C) <years> <holder>.\"")
endif()
set(KV_COPYRIGHT "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
string(REGEX REPLACE "[ \t\r\n]+$" "" KV_LICENSE_TEXT "${KV_LICENSE_TEXT}")
string(REGEX REPLACE "[ \t]+\n" "\n" KV_LICENSE_TEXT "${KV_LICENSE_TEXT}")
string(REPLACE "\n" "\n " KV_LICENSE_TEXT " ${KV_LICENSE_TEXT}")
# Twice: a run of blank lines overlaps its matches.
string(REPLACE "\n \n" "\n .\n" KV_LICENSE_TEXT "${KV_LICENSE_TEXT}")
string(REPLACE "\n \n" "\n .\n" KV_LICENSE_TEXT "${KV_LICENSE_TEXT}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${KV_PACKAGING_OUT}/copyright @ONLY)

# ---- compressed documents --------------------------------------------------------------------
# Manual pages and the changelog are installed gzip'd, as Debian does. -n leaves out the name and
# the time stamp, so the same source gives the same bytes in every build.
find_program(KV_GZIP gzip REQUIRED)
set(KV_COMPRESSED_DOCS "")
function(kv_gzip source output)
    get_filename_component(dir ${output} DIRECTORY)
    string(REGEX REPLACE "\\.gz$" "" plain ${output})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
        COMMAND ${KV_GZIP} -9nf ${plain}
        DEPENDS ${source}
        COMMENT "Compressing ${output}"
        VERBATIM)
    set(KV_COMPRESSED_DOCS ${KV_COMPRESSED_DOCS} ${output} PARENT_SCOPE)
endfunction()

kv_gzip(${KV_CHANGELOG} ${KV_PACKAGING_OUT}/changelog.gz)
set(KV_MAN_PAGES_cli "")
set(KV_MAN_PAGES_gui "")
if(TARGET kv6251-cli)
    list(APPEND KV_MAN_PAGES_cli kv6251-cli.1)
endif()
if(TARGET kv6251-boxsim)
    list(APPEND KV_MAN_PAGES_cli kv6251-boxsim.1)
endif()
if(TARGET kv6251)
    list(APPEND KV_MAN_PAGES_gui kv6251.1)
endif()
foreach(component cli gui)
    foreach(page ${KV_MAN_PAGES_${component}})
        kv_gzip(${KV_MAN_DIR}/${page} ${PROJECT_BINARY_DIR}/man/${page}.gz)
        install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
                COMPONENT ${component})
    endforeach()
endforeach()
add_custom_target(kv_package_docs ALL DEPENDS ${KV_COMPRESSED_DOCS})

# ---- component cli ---------------------------------------------------------------------------
# kv6251-cli itself is installed by cli/CMakeLists.txt next to its target.
if(TARGET kv6251-boxsim)
    install(TARGETS kv6251-boxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()

# The nightly check as systemd units: kv6251-check@<n>.timer starts kv6251-check@<n>.service,
# which checks COM<n> against /etc/kv6251/com<n>.swi. The sources are the units the package
# ships: they run the packaged /usr/bin/kv6251-cli, and a system-wide installation (prefix /usr,
# as the packages have it) puts them where Debian 12's packages keep their units
# (`pkg-config --variable=systemdsystemunitdir systemd`). Any other prefix keeps them under
# itself, in <prefix>/lib/systemd/system (which systemd reads for /usr/local), and they run the
# kv6251-cli of that prefix: the choice is made when installing, as `cmake --install --prefix`
# may name another prefix than the one configured.
set(KV_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH
    "Where an installation with the prefix /usr (the packages) puts the systemd units")
set(KV_SYSTEMD_DIR ${PROJECT_SOURCE_DIR}/packaging/systemd)
set(KV_SYSTEMD_PROGRAM "/usr/bin/kv6251-cli")
if(TARGET kv6251-cli)
    file(STRINGS ${KV_SYSTEMD_DIR}/kv6251-check@.service exec_start REGEX "^ExecStart=")
    if(NOT exec_start MATCHES "^ExecStart=${KV_SYSTEMD_PROGRAM} ")
        message(FATAL_ERROR "${KV_SYSTEMD_DIR}/kv6251-check@.service must start ${KV_SYSTEMD_PROGRAM}: ${exec_start}")
    endif()
    install(CODE "
        set(program \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kv6251-cli\")
        if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
            set(unit_dir \"${KV_SYSTEMD_UNIT_DIR}\")
        else()
            set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
        endif()
        foreach(unit kv6251-check@.service kv6251-check@.timer)
            file(READ \"${KV_SYSTEMD_DIR}/\${unit}\" text)
            string(REPLACE \"=${KV_SYSTEMD_PROGRAM} \" \"=\${program} \" text \"\${text}\")
            file(WRITE \"${PROJECT_BINARY_DIR}/systemd/\${unit}\" \"\${text}\")
            file(INSTALL \"${PROJECT_BINARY_DIR}/systemd/\${unit}\" DESTINATION \"\${unit_dir}\"
                 PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        endforeach()"
        COMPONENT cli)
    # A running systemd reads the units again after an install, an upgrade and a removal.
    set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${KV_SYSTEMD_DIR}/postinst ${KV_SYSTEMD_DIR}/postrm)
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_SYSTEMD_DIR}/kv6251-check@.service)

# The Ansible playbook, role and module go with the command line they run, as its examples.
if(TARGET kv6251-cli)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ansible/
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KV_CLI_PACKAGE}/examples/ansible COMPONENT cli
            PATTERN "__pycache__" EXCLUDE)
endif()

# ---- component gui ---------------------------------------------------------------------------
# kv6251 itself is installed by app/CMakeLists.txt next to its target. Its desktop entry, icons
# and metadata come only with it.
if(TARGET kv6251)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${KV_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)

    set(KV_LICENSE_FILE "${KV_PACKAGE_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/doc/${KV_GUI_PACKAGE}/copyright")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/${KV_APP_ID}.metainfo.xml.in
                   ${KV_PACKAGING_OUT}/${KV_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${KV_PACKAGING_OUT}/${KV_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT gui)

    # Icons are installed under the application id, the name the desktop entry asks for.
    set(KV_ICON_SCALABLE ${PROJECT_SOURCE_DIR}/resources/kv6251.svg)
    set(KV_ICON_32 ${PROJECT_SOURCE_DIR}/resources/kv6251-32.png)
    foreach(icon ${KV_ICON_SCALABLE} ${KV_ICON_32})
        if(NOT EXISTS ${icon})
            message(WARNING "Program icon ${icon} is missing: the desktop entry will show a generic icon")
        endif()
    endforeach()
    if(EXISTS ${KV_ICON_SCALABLE})
        install(FILES ${KV_ICON_SCALABLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
                RENAME ${KV_APP_ID}.svg COMPONENT gui)
    endif()
    if(EXISTS ${KV_ICON_32})
        install(FILES ${KV_ICON_32} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
                RENAME ${KV_APP_ID}.png COMPONENT gui)
    endif()
endif()

# ---- stripping -------------------------------------------------------------------------------
# A stripped install (`cmake --install --strip`, and CPack with CPACK_STRIP_FILES) runs a plain
# `strip`, which keeps the compiler's .comment and the .note section; they serve nobody at run
# time, so they go too, as in Debian's own packages.
if(CMAKE_STRIP)
    foreach(pair kv6251-cli:cli kv6251-boxsim:cli kv6251:gui)
        string(REPLACE ":" ";" pair ${pair})
        list(GET pair 0 program)
        list(GET pair 1 component)
        if(TARGET ${program})
            install(CODE "
                if(CMAKE_INSTALL_DO_STRIP)
                    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
                        COMMAND_ERROR_IS_FATAL ANY)
                endif()"
                COMPONENT ${component})
        endif()
    endforeach()
endif()

# ---- documents of each package ---------------------------------------------------------------
foreach(component ${KV_PACKAGE_COMPONENTS})
    if(component STREQUAL "cli")
        set(package ${KV_CLI_PACKAGE})
    else()
        set(package ${KV_GUI_PACKAGE})
    endif()
    install(FILES ${KV_PACKAGING_OUT}/copyright ${KV_PACKAGING_OUT}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

# ---- Debian packages -------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kv6251")
set(CPACK_PACKAGE_VENDOR ${KV_VENDOR})
set(CPACK_PACKAGE_CONTACT ${KV_CONTACT})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL ${KV_HOMEPAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX ${KV_PACKAGE_PREFIX})
# Directories made by the installation get the usual permissions whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${KV_PACKAGE_COMPONENTS})
set(CPACK_COMPONENTS_GROUPING IGNORE) # one package per component
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT") # <package>_<version>_<arch>.deb
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${KV_CLI_PACKAGE})
set(CPACK_DEBIAN_GUI_PACKAGE_NAME ${KV_GUI_PACKAGE})
# Both come from one source, named after the project (the changelog's name).
set(CPACK_DEBIAN_CLI_PACKAGE_SOURCE ${KV_UPSTREAM_NAME})
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KV_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The first line is the package's summary, the rest its description.
string(CONCAT CPACK_DEBIAN_CLI_DESCRIPTION
    "command line tool and simulated box for the KV6251 Transport Switcher\n"
    "kv6251-cli sends a configuration (the PIDs and the output mode) to a\n"
    "KV6251 Transport Switcher over its USB serial port and verifies it, reads\n"
    "the box's configuration back as a .swi file and lists the serial ports\n"
    "with what stands in the way of opening them. Its exit status is the\n"
    "transfer's result, for use in scripts. It needs no display.\n"
    "\n"
    "The systemd timer kv6251-check@<n>.timer checks every night that the box\n"
    "on port n still holds the configuration of /etc/kv6251/com<n>.swi.\n"
    "\n"
    "kv6251-boxsim is a simulated box on a pseudo-terminal, with fault modes,\n"
    "to try the tools without a box.")
string(CONCAT CPACK_DEBIAN_GUI_DESCRIPTION
    "configuration tool of the KV6251 Transport Switcher\n"
    "Sets the PIDs and the output mode of a KV6251 Transport Switcher over its\n"
    "USB serial port, verifies them, reads back the box's configuration and\n"
    "keeps configurations in .swi files, in a window.\n"
    "\n"
    "The command line tool and the simulated box are in the package\n"
    "kv6251-cli.")

# kv6251 shares the port setting and its files with kv6251-cli; they go together, same version.
set(KV_GUI_NEEDS_CLI "${KV_CLI_PACKAGE} (= ${PROJECT_VERSION})")
# The libraries the binaries link come from dpkg-shlibdeps (dpkg-dev), package by package, when
# it is there; otherwise they are declared by hand.
find_program(KV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KV_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "${KV_GUI_NEEDS_CLI}")
else()
    set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
    set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS
        "${KV_GUI_NEEDS_CLI}, libqt6widgets6, libqt6gui6, libqt6core6, libc6, libstdc++6, libgcc-s1")
endif()
# Qt's platform plugins are loaded at run time, so no linker dependency names them; the X11
# one ships in libqt6gui6, which the dependencies above already pull in (Wayland sessions use it
# too).
set(CPACK_STRIP_FILES ON)

include(CPack)
