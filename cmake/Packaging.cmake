# Installation and the Debian package.
#
# Included by the top-level CMakeLists.txt after every target exists. `cmake --install` puts the
# program and the box simulator in bin/, the desktop entry, the icon (32 px and scalable) and the
# AppStream metadata in their standard places; `cpack` turns that into kv6251_<version>_<arch>.deb.
# scripts/check-package.sh builds, installs and checks the package.

include(GNUInstallDirs)

set(KV_APP_ID "org.example.kv6251")
# The date of the release named by the project version; update both together.
set(KV_RELEASE_DATE "2024-06-01")

# kv6251 itself is installed by app/CMakeLists.txt next to its target.
if(TARGET kv6251-boxsim)
    install(TARGETS kv6251-boxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/${KV_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

configure_file(${PROJECT_SOURCE_DIR}/packaging/${KV_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${KV_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${KV_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

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
            RENAME ${KV_APP_ID}.svg)
endif()
if(EXISTS ${KV_ICON_32})
    install(FILES ${KV_ICON_32} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
            RENAME ${KV_APP_ID}.png)
endif()

# ---- Debian package --------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kv6251")
set(CPACK_PACKAGE_VENDOR "Norvell")
set(CPACK_PACKAGE_CONTACT "Norvell <support@example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool of the KV6251 Transport Switcher")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Sets the PIDs and the output mode of a KV6251 Transport Switcher over its\n"
    "USB serial port, verifies them, reads back the box's configuration and\n"
    "keeps configurations in .swi files. Includes kv6251-boxsim, a simulated\n"
    "box on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT") # kv6251_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.example.com/kv6251")

# The libraries the binaries link come from dpkg-shlibdeps when it is there (dpkg-dev);
# otherwise they are declared by hand.
find_program(KV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KV_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6, libqt6gui6, libqt6core6, libc6, libstdc++6, libgcc-s1")
endif()
# Qt's platform plugins are loaded at run time, so no linker dependency names them; the X11
# one ships in libqt6gui6, which the list above already pulls in (Wayland sessions use it too).
set(CPACK_STRIP_FILES ON)

include(CPack)
