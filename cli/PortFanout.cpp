#include "cli/PortFanout.h"

#include "link/Ser921.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

struct Child {
    int port = 0;
    pid_t pid = -1;
    int fd = -1; // the read end of the child's report pipe; -1 once it is at its end
    std::string packed;
    int startError = 0; // errno when the child could not be started
};

void WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the parent is gone: nobody left to tell
        done += static_cast<size_t>(n);
    }
}

void Start(Child* child, const std::function<Report(int)>& work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        child->startError = errno;
        return;
    }
    // Whatever this process buffered would otherwise be written twice, once by each.
    std::fflush(nullptr);
    child->pid = ::fork();
    if (child->pid < 0) {
        child->startError = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (child->pid == 0) {
        ::close(fds[0]);
        WriteAll(fds[1], PackReport(work(child->port)));
        // No exit handlers, no flushing of buffers inherited from the parent: the report is all.
        ::_exit(0);
    }
    ::close(fds[1]);
    child->fd = fds[0];
}

// Reads every child's report to its end, as they come.
void Collect(std::vector<Child>& children, const std::function<void(size_t)>& done) {
    size_t ended = 0;
    for (const Child& c : children)
        ended += c.fd < 0 ? 1 : 0;
    while (true) {
        std::vector<pollfd> open;
        std::vector<Child*> owners;
        for (Child& c : children) {
            if (c.fd >= 0) {
                open.push_back({c.fd, POLLIN, 0});
                owners.push_back(&c);
            }
        }
        if (open.empty())
            return;
        if (::poll(open.data(), open.size(), -1) < 0 && errno != EINTR)
            return;
        for (size_t i = 0; i < open.size(); ++i) {
            if (open[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(open[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                owners[i]->packed.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(open[i].fd);
                owners[i]->fd = -1;
                if (done)
                    done(++ended);
            }
        }
    }
}

// A report for a port whose child gave none.
Report Lost(const Child& child, int status) {
    Report r;
    r.port = child.port;
    r.problem = true;
    if (child.startError != 0) {
        r.code = EX_OSERR;
        r.text = "cannot start the run on " + PortName(child.port) + ": " + std::strerror(child.startError);
    } else {
        r.code = EX_SOFTWARE;
        r.text = "the run on " + PortName(child.port) + " ended without a result" +
                 (WIFSIGNALED(status) ? " (signal " + std::to_string(WTERMSIG(status)) + ")" : std::string());
    }
    return r;
}

} // namespace

std::vector<Report> RunOnPorts(const std::vector<int>& ports, const std::function<Report(int)>& work,
                               const std::function<void(size_t)>& done) {
    std::vector<Child> children(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        children[i].port = ports[i];
        Start(&children[i], work);
    }
    Collect(children, done);

    std::vector<Report> reports;
    for (Child& c : children) {
        int status = 0;
        if (c.pid > 0)
            while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
            }
        std::optional<Report> report = UnpackReport(c.packed);
        reports.push_back(report ? std::move(*report) : Lost(c, status));
    }
    return reports;
}
