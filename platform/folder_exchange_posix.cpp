#ifndef _WIN32

#include "platform/folder_exchange.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2 and RENAME_EXCHANGE (glibc)

FolderExchange exchangeFolders(const std::string& a, const std::string& b) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0)
        return foldersExchanged;
    // Older kernels and some file systems (network, FUSE) know no exchange.
    if (errno == ENOSYS || errno == EINVAL || errno == ENOTSUP) return exchangeUnsupported;
    return exchangeFailed;
#else
    (void)a;
    (void)b;
    return exchangeUnsupported;
#endif
}

bool flushFileSystem(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
#ifdef __linux__
    const bool flushed = syncfs(fd) == 0;
#else
    const bool flushed = fsync(fd) == 0;
    sync();
#endif
    close(fd);
    return flushed;
}

#endif
