#include "platform/AtomicWrite.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many names a save tries before it gives up on finding a free temporary name.
constexpr int kTempNameTries = 100;

std::string ErrorText(int err) {
    return std::strerror(err);
}

void SetReason(std::string* reason, const std::string& text) {
    if (reason)
        *reason = text;
}

// Follows a symbolic link so that the file behind it is replaced instead of the link.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path; // a dangling link: replacing the link itself is the best we can do
    return resolved;
}

void SplitPath(const std::string& path, std::string* dir, std::string* base) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *dir = ".";
        *base = path;
    } else {
        *dir = slash == 0 ? "/" : path.substr(0, slash);
        *base = path.substr(slash + 1);
    }
}

bool WriteAll(int fd, std::string_view content) {
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Creates a new, not yet existing file in dir. Mode 0666 lets the umask and any default ACL of
// the folder decide the permissions, as for any newly created file.
int CreateTemp(const std::string& dir, const std::string& base, std::string* tempPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
        std::string candidate = dir + "/." + base + ".tmp" + std::to_string(::getpid()) + "-" +
                                std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *tempPath = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Makes the rename itself durable; a folder that cannot be synced does not undo the save.
void SyncFolder(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* reason) {
    if (path.empty()) {
        SetReason(reason, "no file name");
        return false;
    }
    const std::string target = ResolveTarget(path);

    struct stat old {};
    bool hadOld = ::stat(target.c_str(), &old) == 0;
    if (hadOld) {
        if (!S_ISREG(old.st_mode)) {
            SetReason(reason, target + " is not a regular file");
            return false;
        }
        // Writing into the old file would have failed; replacing it by rename must not
        // get round the protection the user put on it.
        if (::access(target.c_str(), W_OK) != 0) {
            SetReason(reason, target + ": " + ErrorText(errno));
            return false;
        }
    }

    std::string dir, base;
    SplitPath(target, &dir, &base);
    std::string temp;
    int fd = CreateTemp(dir, base, &temp);
    if (fd < 0) {
        SetReason(reason, "cannot create a file in " + dir + ": " + ErrorText(errno));
        return false;
    }

    auto fail = [&](const std::string& what, int err) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        SetReason(reason, what + ": " + ErrorText(err));
        return false;
    };

    if (!WriteAll(fd, content))
        return fail("cannot write " + temp, errno);
    if (hadOld) {
        // Keep what the user set on the file being replaced. The owner can only be kept by a
        // privileged process; for anybody else the new file is simply theirs.
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return fail("cannot set the permissions of " + temp, errno);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fsync(fd) != 0)
        return fail("cannot flush " + temp, errno);
    int closeResult = ::close(fd);
    fd = -1;
    if (closeResult != 0)
        return fail("cannot close " + temp, errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return fail("cannot replace " + target, errno);
    SyncFolder(dir);
    return true;
}
