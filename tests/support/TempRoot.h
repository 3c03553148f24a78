// A fresh root directory for the tool's files: XDG_DATA_HOME (and XDG_CONFIG_HOME, where Qt's file
// dialogs remember things) point into a new temporary folder while this lives; it is removed after.
#pragma once

#include "platform/RootDir.h"

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRoot {
public:
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv6251-test-XXXXXX").string();
        if (const char* made = ::mkdtemp(pattern.data()))
            base_ = made;
        ::setenv("XDG_DATA_HOME", (base_ + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (base_ + "/config").c_str(), 1);
    }
    ~TempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    // The temporary folder itself, for files of the test's own.
    std::string Base() const { return base_; }
    std::string File(const std::string& name) const { return base_ + "/" + name; }
    // A path in the tool's root directory, for a fixed name such as "\CONF_KV6251.A$B" or "com1".
    static std::string Fixed(const std::string& name) { return RootPath(name); }

private:
    std::string base_;
};
