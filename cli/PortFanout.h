// Running one command on several ports at once.
//
// The link is one per process, so each port runs in a child process of its own, forked from this
// single-threaded one: a port's transfer shares nothing with another's but the root directory,
// where transfers at once never mix. The children run together; their reports come back whole
// through a pipe each and are given in the order of the ports, whatever order they finished in.
#pragma once

#include "cli/Report.h"

#include <functional>
#include <vector>

// Runs work(port) for every port at once; the reports in the order of ports. A child that ends
// without a report (killed, or it could not be started) gives one that says so, with status 70
// (EX_SOFTWARE) or 71 (EX_OSERR). done, when given, is called in this process as each port ends,
// with the number ended so far.
std::vector<Report> RunOnPorts(const std::vector<int>& ports, const std::function<Report(int port)>& work,
                               const std::function<void(size_t done)>& done = {});
