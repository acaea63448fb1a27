#include "platform/temporary_files.h"

#ifndef _WIN32

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The target name and process id of a temporary file's name, or false.
bool parseTemporaryName(const std::string& entry, std::string& name, pid_t& process) {
    const std::string suffix = ".tmp";
    if (entry.size() < 1 + 1 + 1 + 1 + suffix.size() || entry[0] != '.' ||
        entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string inner = entry.substr(1, entry.size() - 1 - suffix.size());
    const std::string::size_type dot = inner.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == inner.size() || inner.size() - dot > 11)
        return false;
    long long id = 0;
    for (std::string::size_type i = dot + 1; i < inner.size(); ++i) {
        if (inner[i] < '0' || inner[i] > '9') return false;
        id = id * 10 + (inner[i] - '0');
    }
    if (id <= 0 || id > 0x7fffffff) return false;
    name = inner.substr(0, dot);
    process = static_cast<pid_t>(id);
    return true;
}

bool processRuns(pid_t process) {
    if (process == getpid()) return false;
    return kill(process, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string temporaryNameFor(const std::string& name) {
    return "." + name + "." + std::to_string(getpid()) + ".tmp";
}

int removeStaleTemporaryFiles(const std::string& folder, bool (*replaces)(const std::string& name)) {
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (folderFd < 0) return 0;
    DIR* listing = fdopendir(folderFd);
    if (!listing) {
        close(folderFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = readdir(listing)) {
        std::string name;
        pid_t process = 0;
        if (!parseTemporaryName(entry->d_name, name, process) || !replaces(name) || processRuns(process))
            continue;
        struct stat info;
        if (fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (unlinkat(folderFd, entry->d_name, 0) == 0) ++removed;
    }
    closedir(listing);
    return removed;
}

#else

// Replacements on Windows use "<target>.tmp" (platform.cpp), without a
// process id to tell a stale one by.
std::string temporaryNameFor(const std::string& name) { return name + ".tmp"; }

int removeStaleTemporaryFiles(const std::string&, bool (*)(const std::string&)) { return 0; }

#endif
