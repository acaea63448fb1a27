#ifndef _WIN32

#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>

namespace {

// Folder as given -> descriptor holding its lock.
std::map<std::string, int> heldLocks;

}  // namespace

FolderLock lockFolder(const std::string& folder) {
    if (heldLocks.count(folder) != 0) return folderLocked;
    // Close-on-exec: a browser or media player started later must not carry
    // the lock on after the viewer has ended.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return folderUnavailable;
    int result;
    do result = flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? folderBusy : folderUnavailable;
    }
    heldLocks[folder] = fd;
    return folderLocked;
}

void unlockFolder(const std::string& folder) {
    auto held = heldLocks.find(folder);
    if (held == heldLocks.end()) return;
    close(held->second);
    heldLocks.erase(held);
}

#endif
