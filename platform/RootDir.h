// Where the tool keeps its fixed files.
//
// The tool names its files with root-relative names such as "\CONF_KV6251.A$B" (a leading
// backslash, no drive). On Linux they all live in one directory, the root directory:
// $XDG_DATA_HOME/kv6251/ (default ~/.local/share/kv6251/), created when first needed.
// RootPath() is the only place that turns such a name into a path.
#pragma once

#include <string>
#include <string_view>

// From now on the root directory is dir (made absolute; created when first needed) instead of the
// one the environment gives. Empty: back to the environment. For a command run on behalf of a
// service, whose files live where the service's own are.
void UseRootDir(const std::string& dir);

// The root directory, without a trailing slash. Creates it (and its parents) when missing;
// an empty string when neither $XDG_DATA_HOME nor $HOME gives a place that can be created.
std::string RootDir();

// Maps a fixed root-relative name ("\NAME", "/NAME" or "NAME") to its path in the root directory;
// empty when there is no usable root directory (every open of an empty path then fails).
std::string RootPath(std::string_view fixedName);
