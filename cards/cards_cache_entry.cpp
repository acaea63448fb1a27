#include "cards/cards_cache_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cards/cards_cache.h"

namespace {

// A whole JPEG begins with a start-of-image marker and ends with an
// end-of-image marker; a cut one lacks the end.
bool wholeJpeg(const std::string& bytes) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    return bytes.size() > 4 && at(0) == 0xff && at(1) == 0xd8 && at(bytes.size() - 2) == 0xff &&
           at(bytes.size() - 1) == 0xd9;
}

bool isHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

bool readCacheFile(const std::string& path, size_t limit, std::string& bytes, std::string& problem) {
    bytes.clear();
    problem.clear();
    // O_NOFOLLOW: a link as the entry itself fails with ELOOP instead of
    // being followed; O_NONBLOCK: a FIFO without a writer does not hold the
    // open up.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ELOOP) problem = "is a symbolic link";
        else if (errno != ENOENT) problem = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    struct stat info;
    bool ok = false;
    if (fstat(fd, &info) != 0) {
        problem = std::string("cannot be read: ") + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        problem = "is not a regular file";
    } else if (static_cast<unsigned long long>(info.st_size) > limit) {
        problem = "is larger than " + std::to_string(limit) + " bytes";
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                problem = std::string("cannot be read: ") + std::strerror(errno);
                break;
            }
            if (got == 0) {
                ok = true;
                break;
            }
            bytes.append(buffer, static_cast<size_t>(got));
            if (bytes.size() > limit) {
                problem = "is larger than " + std::to_string(limit) + " bytes";
                break;
            }
        }
    }
    close(fd);
    if (!ok) bytes.clear();
    return ok;
}

std::string cachedCardDigestPath(const std::string& cardPath) {
    const size_t dot = cardPath.rfind('.');
    const size_t slash = cardPath.rfind('/');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? cardPath.substr(0, dot) : cardPath) + ".sum";
}

CachedCard readCachedCard(const std::string& cardPath) {
    CachedCard card;
    std::string problem;
    if (!readCacheFile(cardPath, maxCachedCardBytes, card.bytes, problem)) {
        card.state = problem.empty() ? cachedCardAbsent : cachedCardDamaged;
        card.problem = problem;
        return card;
    }
    if (!wholeJpeg(card.bytes)) {
        card.state = cachedCardDamaged;
        card.problem = "is not a whole JPEG";
        card.bytes.clear();
        return card;
    }
    std::string digest;
    const std::string digestPath = cachedCardDigestPath(cardPath);
    if (!readCacheFile(digestPath, 256, digest, problem)) {
        card.bytes.clear();
        if (problem.empty()) {
            card.state = cachedCardUnverified;
        } else {
            card.state = cachedCardDamaged;
            card.problem = "has a digest file that " + problem;
        }
        return card;
    }
    while (!digest.empty() && (digest.back() == '\n' || digest.back() == '\r')) digest.pop_back();
    if (!isHexDigest(digest) || digest != digestOf(card.bytes)) {
        card.state = cachedCardDamaged;
        card.problem = "does not match its digest";
        card.bytes.clear();
        return card;
    }
    card.state = cachedCardGood;
    return card;
}

bool keepCachedCard(const std::string& cardPath, const std::string& card) {
    std::string ignored;
    return replaceFile(cardPath, card, ignored) &&
           replaceFile(cachedCardDigestPath(cardPath), digestOf(card) + "\n", ignored);
}

long long cachedCardChangeTime(const std::string& cardPath) {
    long long newest = 0;
    for (const std::string& path : {cardPath, cachedCardDigestPath(cardPath)}) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (!S_ISREG(info.st_mode)) return -1;
        newest = std::max(newest, static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL +
                                      info.st_ctim.tv_nsec);
    }
    return newest;
}
