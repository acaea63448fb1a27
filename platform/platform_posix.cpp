// The operating-system layer on Linux and other POSIX systems (the desktop
// size, which asks X11, is in desktop_posix.cpp).
#include "platform/platform.h"

#include "dataroot/safe_file.h"
#include "platform/temporary_files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
extern char** environ;

namespace {

// Children started to open addresses are never waited for. Ignoring SIGCHLD
// makes the kernel reap them as soon as they end, so none stays a zombie.
void reapChildrenAutomatically() {
    static bool done = false;
    if (done) return;
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &action, nullptr);
    done = true;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Creates the temporary file for `target`, lets `fill` write into it, and
// renames it over the target when everything was written. The folder is
// opened first by the rules of dataroot/safe_file.h, so a data-root target
// is never written through a symbolic link leading out of the root; the
// temporary file is made new (never an existing file or link of that name)
// and the rename replaces the target's own entry, a link included, without
// following it.
template <typename Fill>
bool replaceThroughTemporary(const std::string& target, Fill fill) {
    std::string name;
    const int folder = openContainingFolder(target, name);
    if (folder < 0) return false;
    // A target that exists but may not be written is left alone, as a plain
    // overwrite would leave it.
    bool replaced = faccessat(folder, name.c_str(), W_OK, 0) == 0 || errno == ENOENT;
    if (replaced) {
        const std::string temporary = temporaryNameFor(name);
        unlinkat(folder, temporary.c_str(), 0);  // left by an earlier process of this id
        const int fd = openat(folder, temporary.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        replaced = fd >= 0;
        if (replaced) {
            bool written = fill(fd);
            written = close(fd) == 0 && written;
            replaced = written && renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
            if (!replaced) unlinkat(folder, temporary.c_str(), 0);
        }
    }
    close(folder);
    return replaced;
}

}  // namespace

void openAddress(const std::string& address) {
    // An address that looks like an option would be read as one by the handler.
    if (address.empty() || address[0] == '-') return;
    reapChildrenAutomatically();
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The handler itself waits for its own children, so it must start with
    // the default SIGCHLD disposition, not the ignored one of this process.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::string program = "xdg-open";
    std::string argument = address;
    char* arguments[] = {program.data(), argument.data(), nullptr};
    pid_t child;
    posix_spawnp(&child, program.c_str(), nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
}

bool copyFileOver(const std::string& source, const std::string& target) {
    // The source is read whole first: only a regular file within the cap of
    // the largest kind the viewer copies (a thumbnail), so a FIFO, a device
    // or an endless file never holds the copy up.
    std::string bytes;
    if (readLimitedFile(source, imageFileLimit, bytes) != fileRead) return false;
    return replaceFileContents(target, bytes);
}

bool replaceFileContents(const std::string& target, const std::string& bytes) {
    return replaceThroughTemporary(
        target, [&bytes](int out) { return writeAll(out, bytes.data(), bytes.size()); });
}

void endProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

std::string programFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    const std::string program(path, static_cast<size_t>(length));
    const std::string::size_type slash = program.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : program.substr(0, slash);
}
