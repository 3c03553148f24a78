// Real files in a temporary folder, and the means to make writing there fail for real.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets or clears the immutable attribute: neither root nor anybody else may then change the file
// or, for a folder, add or remove entries. False when the file system or the sandbox refuses it.
inline bool SetImmutable(const std::string& path, bool on) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Makes path unwritable for this process. Permission bits do not stop root, so root uses the
// immutable attribute instead. False when neither works here.
inline bool MakeUnwritable(const std::string& path) {
    if (::geteuid() != 0) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return ::chmod(path.c_str(), S_ISDIR(st.st_mode) ? 0555 : 0444) == 0;
    }
    return SetImmutable(path, true);
}

// A fresh folder per test, which is also the tool's root directory ($XDG_DATA_HOME/kv6251).
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/kv6251-files-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        ASSERT_NE(::mkdtemp(buffer.data()), nullptr);
        dir_ = buffer.data();
        ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    }

    void TearDown() override {
        // Undo whatever protection a test put on, so that everything can be removed.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_symlink())
                continue;
            SetImmutable(it->path().string(), false);
            ::chmod(it->path().c_str(), it->is_directory() ? 0755 : 0644);
        }
        SetImmutable(dir_, false);
        ::chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_, ec);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};
