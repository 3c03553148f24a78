#include "ChildProcess.h"

#include "platform/Timing.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// An unnamed temporary file: the child writes into it, the test reads it afterwards.
int ScratchFile() {
    char path[] = "/tmp/kv6251-child-XXXXXX";
    const int fd = ::mkstemp(path);
    ::unlink(path);
    return fd;
}

std::string ReadBack(int fd) {
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

pid_t Spawn(std::vector<std::string> argv, std::vector<std::string> env, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0 && err >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e); // after the extra entries: the first of two equal names counts
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

ChildResult RunChild(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& extraEnv) {
    ChildResult result;
    const int out = ScratchFile();
    const int err = ScratchFile();
    const pid_t pid = Spawn(argv, extraEnv, out, err);
    int raw = 0;
    if (pid > 0) {
        const int64_t end = NowMs() + timeoutMs;
        while (::waitpid(pid, &raw, WNOHANG) == 0) {
            if (NowMs() >= end && !result.timedOut) {
                result.timedOut = true;
                ::kill(pid, SIGKILL);
            }
            SleepMs(2);
        }
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    result.out = ReadBack(out);
    result.err = ReadBack(err);
    return result;
}

int StartChild(const std::vector<std::string>& argv) {
    return Spawn(argv, {}, -1, -1);
}

void StopChild(int pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < 1000; waited += 10) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        SleepMs(10);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}
