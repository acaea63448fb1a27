#include "dataroot/safe_file.h"

#include "dataroot/data_root.h"

#include <atomic>
#include <new>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <cstdint>
#include <filesystem>
#include <fstream>
#endif

namespace {

const std::string_view rootFolder = rootFolderName;

std::string_view withoutLeadingDots(std::string_view path) {
    while (path.size() >= 2 && path.substr(0, 2) == "./") {
        path.remove_prefix(2);
        while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    }
    return path;
}

// The part of a data-root path below the root ("1/5.Quillon" for
// "VESTRALUME/1/5.Quillon"); false when `path` is no data-root path.
bool splitDataRootPath(const std::string& path, std::string& below) {
    std::string_view rest = withoutLeadingDots(path);
    if (rest.size() <= rootFolder.size() || rest.substr(0, rootFolder.size()) != rootFolder ||
        rest[rootFolder.size()] != '/')
        return false;
    below = std::string(rest.substr(rootFolder.size() + 1));
    return true;
}

// The components of a relative path, without empty and "." ones; false for
// an absolute path, a path with a ".." component, or no component at all.
bool splitRelative(const std::string& path, std::vector<std::string>& parts) {
    parts.clear();
    if (path.empty() || path.front() == '/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return !parts.empty();
}

std::string sizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

#ifndef _WIN32

std::string joinParts(const std::vector<std::string>& parts, size_t count) {
    std::string joined;
    for (size_t i = 0; i < count; ++i) joined += (i ? "/" : "") + parts[i];
    return joined;
}

FileOutcome outcomeOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return fileMissing;
    case EXDEV:
    case ELOOP: return fileOutside;
    case ENXIO:  // a socket, or a device without its driver
    case EISDIR: return fileNotRegular;
    default: return fileUnreadable;
    }
}

int retryOpenat(int folder, const char* path, int flags) {
    int fd;
    do fd = openat(folder, path, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens `relative` beneath `folder` one component at a time, following no
// symbolic link at all: the way for kernels without openat2. A link on the
// way counts as leading outside, even one that would stay inside.
int openByWalking(int folder, const std::vector<std::string>& parts, int flags, FileOutcome& why) {
    int current = folder;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        const int fd = retryOpenat(current, parts[i].c_str(),
                                   (last ? flags : O_PATH | O_DIRECTORY | O_CLOEXEC) | O_NOFOLLOW);
        const int error = errno;
        struct stat info;
        const bool link = fd < 0 && fstatat(current, parts[i].c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(info.st_mode);
        if (current != folder) close(current);
        if (fd < 0) {
            why = link ? fileOutside : outcomeOfErrno(error);
            return -1;
        }
        current = fd;
    }
    return current;
}

// Opens `relative` beneath `folder`: openat2 with RESOLVE_BENEATH where the
// kernel has it (links that stay inside are followed), else by walking.
int openBeneath(int folder, const std::string& relative, int flags, FileOutcome& why) {
    std::vector<std::string> parts;
    if (!splitRelative(relative, parts)) {
        why = fileOutside;
        return -1;
    }
    static std::atomic<bool> openat2Missing{false};
    if (!openat2Missing) {
        open_how how{};
        how.flags = static_cast<unsigned long long>(flags);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const std::string joined = joinParts(parts, parts.size());
        // EAGAIN: a rename or mount anywhere on the system while a ".." of
        // a link was resolved, so the kernel could not be sure the path
        // stayed beneath; it is safe to ask again, a bounded number of times.
        long fd;
        int racesLeft = 100;
        do fd = syscall(SYS_openat2, folder, joined.c_str(), &how, sizeof how);
        while (fd < 0 && (errno == EINTR || (errno == EAGAIN && racesLeft-- > 0)));
        if (fd >= 0) return static_cast<int>(fd);
        // Not there at all (ENOSYS), or refused by a system-call filter.
        const bool unavailable = errno == ENOSYS || errno == EPERM || errno == E2BIG;
        if (!unavailable) {
            why = outcomeOfErrno(errno);
            return -1;
        }
        if (errno == ENOSYS) openat2Missing = true;
    }
    return openByWalking(folder, parts, flags, why);
}

int openDataRoot(FileOutcome& why) {
    const int fd = retryOpenat(AT_FDCWD, std::string(rootFolder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) why = outcomeOfErrno(errno);
    return fd;
}

constexpr int readFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens a file for reading by the rules of safe_file.h.
int openForReading(const std::string& path, FileOutcome& why) {
    std::string below;
    if (splitDataRootPath(path, below)) {
        const int root = openDataRoot(why);
        if (root < 0) return -1;
        const int fd = openBeneath(root, below, readFlags, why);
        close(root);
        return fd;
    }
    const bool plainName = isWorkingDirectoryName(path);
    const int fd = retryOpenat(AT_FDCWD, path.c_str(), readFlags | (plainName ? O_NOFOLLOW : 0));
    if (fd < 0) why = outcomeOfErrno(errno);
    return fd;
}

// Reads an open file whole when it is a regular file within `limit`;
// closes it.
FileOutcome readOpenFile(int fd, std::size_t limit, std::string& bytes) {
    bytes.clear();
    struct stat info;
    FileOutcome outcome = fileRead;
    if (fstat(fd, &info) != 0)
        outcome = fileUnreadable;
    else if (!S_ISREG(info.st_mode))
        outcome = fileNotRegular;
    else if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit)
        outcome = fileTooLarge;
    try {
        if (outcome == fileRead) bytes.reserve(static_cast<size_t>(info.st_size));
        char block[65536];
        // One byte more than the cap tells a file that grew past it.
        while (outcome == fileRead) {
            const size_t room = limit + 1 - bytes.size();
            const ssize_t got = read(fd, block, room < sizeof block ? room : sizeof block);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                outcome = fileUnreadable;
                break;
            }
            bytes.append(block, static_cast<size_t>(got));
            if (bytes.size() > limit) outcome = fileTooLarge;
        }
    } catch (const std::bad_alloc&) {
        outcome = fileUnreadable;
    }
    close(fd);
    if (outcome != fileRead) std::string().swap(bytes);
    return outcome;
}

#else

// Without descriptors the rules are applied to the text of the path and to
// what the file system says about it.
FileOutcome readPathWithin(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
    namespace fs = std::filesystem;
    bytes.clear();
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (!fs::exists(status)) return fileMissing;
    if (!fs::is_regular_file(status)) return fileNotRegular;
    const auto size = fs::file_size(path, code);
    if (code) return fileUnreadable;
    if (size > limit) return fileTooLarge;
    std::ifstream in(path.string(), std::ios::binary);
    if (!in) return fileUnreadable;
    try {
        bytes.resize(static_cast<size_t>(size));
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        if (static_cast<std::uintmax_t>(in.gcount()) != size) {
            bytes.clear();
            return fileUnreadable;
        }
    } catch (const std::bad_alloc&) {
        std::string().swap(bytes);
        return fileUnreadable;
    }
    return fileRead;
}

#endif

}  // namespace

std::string describeFileOutcome(FileOutcome outcome, std::size_t limit) {
    switch (outcome) {
    case fileRead: return "was read";
    case fileMissing: return "is missing";
    case fileNotRegular: return "is not a regular file (a FIFO, device, socket or folder)";
    case fileTooLarge: return "is larger than " + sizeText(limit);
    case fileOutside:
        return "leads out of its folder (an absolute path, \"..\" or a symbolic link pointing "
               "outside)";
    case fileUnreadable: break;
    }
    return "cannot be read";
}

bool isDataRootPath(const std::string& path) { return !belowDataRoot(path).empty(); }

std::string belowDataRoot(const std::string& path) {
    std::string below;
    std::vector<std::string> parts;
    if (!splitDataRootPath(path, below) || !splitRelative(below, parts)) return std::string();
    return below;
}

bool isWorkingDirectoryName(const std::string& path) {
    return !path.empty() && path != "." && path != ".." && path.find('/') == std::string::npos;
}

#ifndef _WIN32

FileOutcome readLimitedFile(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
    FileOutcome why = fileUnreadable;
    const int fd = openForReading(path, why);
    return fd < 0 ? why : readOpenFile(fd, limit, bytes);
}

FileOutcome readFileBeneath(const std::string& root, const std::string& relative,
                            std::size_t limit, std::string& bytes) {
    bytes.clear();
    const int folder = retryOpenat(AT_FDCWD, root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return outcomeOfErrno(errno);
    FileOutcome why = fileUnreadable;
    const int fd = openBeneath(folder, relative, readFlags, why);
    close(folder);
    return fd < 0 ? why : readOpenFile(fd, limit, bytes);
}

int openContainingFolder(const std::string& path, std::string& name) {
    const int folderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    std::string below;
    if (splitDataRootPath(path, below)) {
        std::vector<std::string> parts;
        if (!splitRelative(below, parts) || below.back() == '/') return -1;
        name = parts.back();
        FileOutcome why = fileUnreadable;
        const int root = openDataRoot(why);
        if (root < 0 || parts.size() == 1) return root;
        const int folder = openBeneath(root, joinParts(parts, parts.size() - 1), folderFlags, why);
        close(root);
        return folder;
    }
    if (isWorkingDirectoryName(path)) {
        name = path;
        return retryOpenat(AT_FDCWD, ".", folderFlags);
    }
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) return -1;
    name = path.substr(slash + 1);
    if (name == "." || name == "..") return -1;
    return retryOpenat(AT_FDCWD, slash == 0 ? "/" : path.substr(0, slash).c_str(), folderFlags);
}

#else

FileOutcome readLimitedFile(const std::string& path, std::size_t limit, std::string& bytes) {
    std::string below;
    std::vector<std::string> parts;
    if (splitDataRootPath(path, below) && !splitRelative(below, parts)) return fileOutside;
    return readPathWithin(path, limit, bytes);
}

FileOutcome readFileBeneath(const std::string& root, const std::string& relative,
                            std::size_t limit, std::string& bytes) {
    std::vector<std::string> parts;
    if (!splitRelative(relative, parts)) return fileOutside;
    return readPathWithin(std::filesystem::path(root) / relative, limit, bytes);
}

#endif
