// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CompanionProgram.h"

#include <climits>

#include <unistd.h>

std::string companionProgramPath(const std::string& name)
{
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string folder = length > 0 ? std::string(exe, size_t(length)) : std::string();
    folder.erase(folder.find_last_of('/') == std::string::npos ? 0 : folder.find_last_of('/'));
    const std::string beside = folder + '/' + name;
    if (access(beside.c_str(), X_OK) == 0)
        return beside;
    // The folder above bin/, without leaving "/.." in the names error texts show.
    const std::string::size_type up = folder.find_last_of('/');
    const std::string prefix = up == std::string::npos ? std::string() : folder.substr(0, up);
    return prefix + "/" QUILLORA_HELPER_LIBEXEC_SUBDIR "/" + name;
}
