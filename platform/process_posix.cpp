// Starting programs on Linux: posix_spawnp with an argument vector, and a
// process file descriptor (pidfd) as the handle that ends the program again.
//
// Children are reaped by the kernel as soon as they end (SIGCHLD ignored with
// SA_NOCLDWAIT), so a process id alone could name a stranger by the time it
// is used: our child ends, is reaped, and the id goes to a new process. The
// pidfd is taken right after the spawn, and a descriptor only counts as ours
// when the kernel says the process behind it is our own child
// (waitid(P_PIDFD) answers ECHILD for any other process). Nothing else
// starts children meanwhile (everything runs on the one GUI thread), so a
// descriptor that passes names the program just started. Signals then go
// through the descriptor, which keeps naming that process after it has ended
// and never passes to another one.
#include "platform/process.h"

#ifndef _WIN32

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

const bool desktopOpensEveryAddress = false;

namespace {

// Children are never waited for: the kernel reaps them as soon as they end,
// so none stays a zombie.
void reapChildrenAutomatically() {
    struct sigaction current {};
    sigaction(SIGCHLD, nullptr, &current);
    if (current.sa_handler == SIG_IGN && (current.sa_flags & SA_NOCLDWAIT)) return;
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &action, nullptr);
}

int openProcessDescriptor(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool signalProcess(int descriptor, int signal) {
    return syscall(SYS_pidfd_send_signal, descriptor, signal, nullptr, 0) == 0;
}

// Whether the process behind `descriptor` is a running child of this
// process. A child that has just ended is reaped here.
bool isRunningChild(int descriptor) {
    siginfo_t info {};
    if (waitid(P_PIDFD, static_cast<id_t>(descriptor), &info, WEXITED | WNOHANG) != 0) return false;
    return info.si_pid == 0;
}

// Waits until the process behind `descriptor` has ended (the descriptor
// becomes readable), at most `milliseconds`.
void waitForEnd(int descriptor, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return;
        pollfd ended {descriptor, POLLIN, 0};
        const int ready = poll(&ended, 1, static_cast<int>(left.count()));
        if (ready >= 0 || errno != EINTR) return;
    }
}

// The start-up settings of a child: default handling of the signals a
// program expects to find at their defaults (this process ignores SIGCHLD),
// no blocked signals, and a session of its own, so a terminal's Ctrl+C or
// hang-up meant for Quillon does not reach it.
struct SpawnSettings {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t files;

    explicit SpawnSettings(int input = -1, const char* errorFile = nullptr) {
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGCHLD, SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes,
                                 POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
        // The program's messages are not Quillon's, and it reads no input.
        posix_spawn_file_actions_init(&files);
        if (input >= 0)
            posix_spawn_file_actions_adddup2(&files, input, 0);
        else
            posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        if (errorFile)
            posix_spawn_file_actions_addopen(&files, 2, errorFile, O_WRONLY | O_CREAT | O_APPEND, 0644);
        else
            posix_spawn_file_actions_adddup2(&files, 1, 2);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

}  // namespace

std::optional<std::string> findProgramOnPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    const char* path = std::getenv("PATH");
    if (!path) return std::nullopt;
    const std::string folders = path;
    std::string::size_type start = 0;
    while (start <= folders.size()) {
        std::string::size_type end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue;
        const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

namespace {

StartedProgram startWith(const std::vector<std::string>& arguments, int input, const char* errorFile) {
    StartedProgram program;
    if (arguments.empty() || arguments[0].empty()) return program;
    reapChildrenAutomatically();
    std::vector<std::string> copies = arguments;
    std::vector<char*> vector;
    for (std::string& argument : copies) vector.push_back(argument.data());
    vector.push_back(nullptr);

    SpawnSettings settings(input, errorFile);
    pid_t child = 0;
    if (posix_spawnp(&child, vector[0], &settings.files, &settings.attributes, vector.data(),
                     environ) != 0)
        return program;
    program.started = true;

    const int descriptor = openProcessDescriptor(child);
    // No descriptor: the child has ended and been reaped already, or the
    // kernel has no process descriptors (before Linux 5.3). The program then
    // runs on unheld.
    if (descriptor < 0) return program;
    if (!isRunningChild(descriptor)) {
        close(descriptor);
        return program;
    }
    program.handle = descriptor;
    return program;
}

// Whether the process behind `descriptor` has ended: its descriptor is
// readable from then on.
bool hasEnded(int descriptor) {
    pollfd ended {descriptor, POLLIN, 0};
    return poll(&ended, 1, 0) != 0;
}

}  // namespace

StartedProgram startProgram(const std::vector<std::string>& arguments) {
    return startWith(arguments, -1, nullptr);
}

StartedProgram startFedProgram(const std::vector<std::string>& arguments, const std::string& errorFile) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return {};
    StartedProgram program = startWith(arguments, ends[1], errorFile.empty() ? nullptr : errorFile.c_str());
    close(ends[1]);
    if (!program.started) {
        close(ends[0]);
        return program;
    }
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    // Nothing comes back from the program.
    shutdown(ends[0], SHUT_RD);
    program.input = ends[0];
    return program;
}

bool sendToProgram(StartedProgram& program, const std::string& text) {
    if (program.input < 0) return false;
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t put = send(program.input, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        sent += static_cast<size_t>(put);
    }
    return true;
}

bool programRunning(const StartedProgram& program) {
    return program.handle >= 0 && isRunningChild(program.handle);
}

void endProgram(StartedProgram& program, int waitMilliseconds) {
    if (program.input >= 0) close(program.input);
    program.input = -1;
    if (program.handle < 0) return;
    // Fails harmlessly (ESRCH) when the program has ended by itself.
    if (signalProcess(program.handle, SIGTERM)) {
        waitForEnd(program.handle, waitMilliseconds);
        // A program that ignores the request is ended through the same
        // descriptor: never another process, and never left running beside
        // the next one. The kernel ends it at once; the short wait lets its
        // window go before the next program's comes.
        if (!hasEnded(program.handle) && signalProcess(program.handle, SIGKILL))
            waitForEnd(program.handle, killWaitMilliseconds);
    }
    releaseProgram(program);
}

void releaseProgram(StartedProgram& program) {
    if (program.input >= 0) close(program.input);
    program.input = -1;
    if (program.handle >= 0) close(program.handle);
    program.handle = -1;
}

void lowerThreadPriority() {
#ifdef __linux__
    // On Linux the nice value belongs to each thread, and a thread started
    // later takes that of the thread starting it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#else
    setpriority(PRIO_PROCESS, 0, 10);
#endif
}

std::string runningProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

#endif

std::string ownProgramFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    std::string full(path, static_cast<size_t>(length));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

long ownProcessId() { return static_cast<long>(getpid()); }
