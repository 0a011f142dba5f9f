#pragma once

// Permission bits do not stop root, and test machines often run as root. The
// cases that need a permission refused run in a second copy of the test
// binary started as the unprivileged user "nobody".

#ifndef _WIN32

#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace holwerk {

/// True when permission bits apply to this process.
inline bool PermissionsApply() { return geteuid() != 0; }

namespace unprivileged_detail {

// Runs argv with stdin closed; output goes where this process's goes unless
// `quiet`. Returns the exit code, or -1 when the program could not start.
inline int Run(const std::vector<std::string>& arguments, bool quiet) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
        }
        // A private TMPDIR of root's would not be writable for nobody.
        setenv("TMPDIR", "/tmp", 1);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace unprivileged_detail

/// Runs this test binary as nobody with `filter`. Returns its exit code, or
/// -1 with `why` filled when no way to switch user works here.
inline int RunTestsAsNobody(const std::string& filter, std::string& why) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        why = "the test binary's own path is unknown (no /proc/self/exe)";
        return -1;
    }
    const std::vector<std::vector<std::string>> switchers = {
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"},
        {"runuser", "-u", "nobody", "--"},
    };
    for (std::vector<std::string> command : switchers) {
        // Probe quietly whether this switcher can start the binary at all.
        command.push_back(self);
        command.push_back("--gtest_list_tests");
        if (unprivileged_detail::Run(command, true) != 0) continue;
        command.back() = "--gtest_filter=" + filter;
        return unprivileged_detail::Run(command, false);
    }
    why = "neither setpriv nor runuser can start this test binary as nobody";
    return -1;
}

}  // namespace holwerk

#endif
