// One run of a command as a child process, timed from outside: its exit
// status, wall and CPU seconds and peak memory. Shared by the benches that
// time the program as a whole.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace tp::bench {

struct Outcome {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // user + system: steadier than wall time on a busy machine
    long maxRssKb = 0;
};

// Runs argv with its stderr (and, unless told otherwise, its stdout) sent to
// /dev/null.
inline Outcome runChild(const std::vector<std::string>& argv, bool stdoutToNull = true) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (stdoutToNull) dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    Outcome o;
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.maxRssKb = use.ru_maxrss;
    o.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                   static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return o;
}

}  // namespace tp::bench
