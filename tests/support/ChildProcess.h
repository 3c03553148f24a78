// Runs a program as a child process and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

struct ChildResult {
    int status = -1; // exit status; 128 + n when killed by signal n; -1 when it could not start
    bool timedOut = false;
    std::string out, err; // standard output and standard error
};

// argv[0] is the program's path. The child inherits the environment (set XDG_DATA_HOME before)
// plus extraEnv ("NAME=value"); its standard input is /dev/null. A child still running after
// timeoutMs is killed.
ChildResult RunChild(const std::vector<std::string>& argv, int timeoutMs = 20000,
                     const std::vector<std::string>& extraEnv = {});

// Starts a child that keeps running (its output goes to /dev/null); the pid, or -1.
int StartChild(const std::vector<std::string>& argv);
// Ends a child started with StartChild (SIGTERM, then SIGKILL after a second) and reaps it.
void StopChild(int pid);
