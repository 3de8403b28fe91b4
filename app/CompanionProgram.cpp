// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CompanionProgram.h"

#include <climits>

#include <unistd.h>

std::string companionProgramPath(const std::string& name)
{
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string self = length > 0 ? std::string(exe, size_t(length)) : std::string();
    const auto parentOf = [](const std::string& path) {
        const std::string::size_type slash = path.find_last_of('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    };
    const std::string folder = parentOf(self);
    const std::string beside = folder + '/' + name;
    if (access(beside.c_str(), X_OK) == 0)
        return beside;
    // The folder above bin/, without leaving "/.." in the names error texts show.
    return parentOf(folder) + "/" QUILLORA_HELPER_LIBEXEC_SUBDIR "/" + name;
}
