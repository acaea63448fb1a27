// The operating-system layer on Linux and other POSIX systems with X11.
#include "platform/platform.h"

#include <X11/Xlib.h>
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

void getDesktopSize(int& width, int& height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    int screen = DefaultScreen(display);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
    XCloseDisplay(display);
}

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

// The temporary file that a replacement is built in: hidden, in the target's
// own folder (a rename only replaces in one step within one file system),
// and named after the process so that two processes never share one.
std::string temporaryNameFor(const std::string& target) {
    std::string::size_type slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + base + "." + std::to_string(getpid()) + ".tmp";
}

// A target that exists but may not be written is left alone, as a plain
// overwrite would leave it.
bool targetMayBeReplaced(const std::string& target) {
    return access(target.c_str(), W_OK) == 0 || errno == ENOENT;
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
// renames it over the target when everything was written.
template <typename Fill>
bool replaceThroughTemporary(const std::string& target, Fill fill) {
    if (!targetMayBeReplaced(target)) return false;
    std::string temporary = temporaryNameFor(target);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = fill(fd);
    written = close(fd) == 0 && written;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
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
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat info;
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(in);
        return false;
    }
    bool copied = replaceThroughTemporary(target, [in](int out) {
        char buffer[65536];
        for (;;) {
            ssize_t n = read(in, buffer, sizeof buffer);
            if (n == 0) return true;
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (!writeAll(out, buffer, static_cast<size_t>(n))) return false;
        }
    });
    close(in);
    return copied;
}

bool replaceFileContents(const std::string& target, const std::string& bytes) {
    return replaceThroughTemporary(
        target, [&bytes](int out) { return writeAll(out, bytes.data(), bytes.size()); });
}

void endProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}
