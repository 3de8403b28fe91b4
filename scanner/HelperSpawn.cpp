// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/HelperSpawn.h"

#include "scanner/ScannerProtocol.h"

#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

pid_t spawnScannerHelper(const char* path, int* ourEnd, bool listLocalAtOnce)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    int childEnd = ends[1];
    if (childEnd == ScannerProtocol::HelperSocketFd) {
        // dup2 onto itself would keep close-on-exec set.
        childEnd = fcntl(ends[1], F_DUPFD_CLOEXEC, ScannerProtocol::HelperSocketFd + 1);
        close(ends[1]);
    }
    const std::string parent = std::to_string(getpid());
    char* argv[] = {const_cast<char*>(path), const_cast<char*>("--parent"),
                    const_cast<char*>(parent.c_str()),
                    listLocalAtOnce ? const_cast<char*>(kListLocalAtOnceArgument) : nullptr,
                    nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, ScannerProtocol::HelperSocketFd);
    // Nothing else of ours reaches the helper: not another helper's socket, not a page.
    posix_spawn_file_actions_addclosefrom_np(&actions, ScannerProtocol::HelperSocketFd + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = childEnd < 0 ? EMFILE
                                : posix_spawn(&pid, path, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (childEnd >= 0)
        close(childEnd);
    if (rc != 0) {
        close(ends[0]);
        errno = rc;
        return -1;
    }
    *ourEnd = ends[0];
    return pid;
}
