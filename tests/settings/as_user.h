#pragma once
// Runs the write_as_user helper as an ordinary user, so that file permissions count although
// the tests may run as root: under root as user and group 65534 through setpriv, otherwise as
// the current user. DAHLO_WRITE_AS_USER is the helper's path.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace dahlo::testing {

inline constexpr uid_t kNobody = 65534;

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// Why the helper cannot run as an ordinary user on this machine; empty when it can.
inline std::string AsUserUnavailable() {
    if (RunningAsRoot() && std::system("command -v setpriv >/dev/null 2>&1") != 0) {
        return "setpriv (util-linux) is missing, so root cannot run the write as another user";
    }
    return {};
}

// Hands `path` to the user the helper runs as (nothing to do when not root).
inline bool GiveToHelperUser(const std::string& path) {
    return !RunningAsRoot() || ::chown(path.c_str(), kNobody, kNobody) == 0;
}

struct HelperRun {
    int exitCode = -1;
    std::string output;
};

inline HelperRun RunWriteAsUser(const std::string& command, const std::string& path) {
    std::vector<std::string> args;
    if (RunningAsRoot()) args = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    args.insert(args.end(), {DAHLO_WRITE_AS_USER, command, path});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    HelperRun run;
    int out[2];
    if (::pipe(out) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            run.exitCode = WEXITSTATUS(status);
        }
    }
    ::close(out[0]);
    return run;
}

}  // namespace dahlo::testing
