#include "cards/cards_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <pango/pango.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

std::string systemReason(int error) { return std::strerror(error); }

// Reads up to `limit` bytes of an open file; false on a read error.
bool readAll(int fd, size_t limit, std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    while (bytes.size() <= limit) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

// A link is never taken as holding the bytes, whatever it leads to: it is
// replaced by a file of its own.
bool holdsExactly(const std::string& path, const std::string& bytes) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) != bytes.size())
        return false;
    std::string old, ignored;
    return readLimitedFile(path, bytes.size(), old, ignored) && old == bytes;
}

}  // namespace

std::string digestOf(const std::string& bytes) {
    gchar* hex = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string digest = hex ? hex : "";
    g_free(hex);
    return digest;
}

DigestStream::DigestStream() : checksum_(g_checksum_new(G_CHECKSUM_SHA256)) {}

DigestStream::~DigestStream() {
    if (checksum_) g_checksum_free(static_cast<GChecksum*>(checksum_));
}

void DigestStream::add(const void* data, size_t size) {
    if (checksum_ && size > 0)
        g_checksum_update(static_cast<GChecksum*>(checksum_), static_cast<const guchar*>(data),
                          static_cast<gssize>(size));
}

std::string DigestStream::finish() {
    if (!checksum_) return std::string();
    const gchar* hex = g_checksum_get_string(static_cast<GChecksum*>(checksum_));
    std::string digest = hex ? hex : "";
    g_checksum_free(static_cast<GChecksum*>(checksum_));
    checksum_ = nullptr;
    return digest;
}

std::string cardDescription(const CardRequest& request, const std::string& logoDigest) {
    // Every field on a line of its own, the name last: no two different
    // cards can give the same text.
    // The versions of the libraries that decode and set: an upgrade may draw
    // a card differently, or read a logo it could not read before.
    static const std::string libraries =
        std::string("vips ") + vips_version_string() + ", pango " + pango_version_string();
    return "card " + std::to_string(cardDesignVersion) + "\n" + libraries + "\n" +
           std::to_string(cardWidth) + "x" + std::to_string(cardHeight) + "\n" +
           std::to_string(request.number) + "\n" + std::to_string(request.background) + "\n" +
           logoDigest + "\n" + request.name;
}

std::string cardCacheKey(const CardRequest& request, const std::string& logoDigest) {
    return digestOf(cardDescription(request, logoDigest));
}

bool readLimitedFile(const std::string& path, size_t maxBytes, std::string& bytes,
                     std::string& problem) {
    // Non-blocking, so that opening a pipe or a device does not wait for a
    // writer; only regular files are read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        problem = "cannot open " + path + ": " + systemReason(errno);
        return false;
    }
    struct stat info;
    bool ok = false;
    if (fstat(fd, &info) != 0) {
        problem = "cannot read " + path + ": " + systemReason(errno);
    } else if (!S_ISREG(info.st_mode)) {
        problem = path + " is not a regular file";
    } else if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        problem = path + " is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    } else if (!readAll(fd, maxBytes, bytes)) {
        problem = "cannot read " + path + ": " + systemReason(errno);
    } else if (bytes.size() > maxBytes) {
        problem = path + " is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    } else {
        ok = true;
    }
    close(fd);
    if (!ok) bytes.clear();
    return ok;
}

bool replaceFile(const std::string& path, const std::string& bytes, std::string& problem) {
    if (holdsExactly(path, bytes)) return true;
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        problem = "cannot write " + path + ": " + systemReason(errno);
        return false;
    }
    size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t put = write(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? errno : ENOSPC;
            break;
        }
        written += static_cast<size_t>(put);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        problem = "cannot write " + path + ": " + systemReason(error);
        return false;
    }
    return true;
}

int removeEndedTemporaries(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (!directory) return 0;
    int removed = 0;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        const size_t mark = name.rfind(".tmp-");
        if (mark == std::string::npos || mark == 0) continue;
        const std::string rest = name.substr(mark + 5);
        const size_t dash = rest.find('-');
        const auto digits = [](const std::string& text) {
            return !text.empty() && text.size() <= 9 &&
                   text.find_first_not_of("0123456789") == std::string::npos;
        };
        if (dash == std::string::npos || !digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1)))
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
        // Another run's file while that run goes on is left alone.
        if (pid == getpid() || pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat info;
        if (fstatat(dirfd(directory), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode) &&
            unlinkat(dirfd(directory), entry->d_name, 0) == 0)
            ++removed;
    }
    closedir(directory);
    return removed;
}

void markUsed(const std::string& path) { utimensat(AT_FDCWD, path.c_str(), nullptr, 0); }

long long secondsNow() { return static_cast<long long>(std::time(nullptr)); }
