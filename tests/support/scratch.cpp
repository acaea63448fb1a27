#include "tests/support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

ScratchRoot::ScratchRoot() {
    previous_ = fs::current_path().string();
    std::string pattern = (fs::temp_directory_path() / "quillon-test-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    fs::current_path(folder_);
    for (const char* sub : {"VESTRALUME/n", "VESTRALUME/i", "VESTRALUME/t", "VESTRALUME/1",
                            "VESTRALUME/2"})
        fs::create_directories(sub);
    for (int k = 1; k <= 20; ++k)
        writeFile("VESTRALUME/n/" + std::to_string(k) + ".txt", std::to_string(k));
}

ScratchRoot::~ScratchRoot() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    // A test may have made folders read-only; make them writable to remove them.
    for (auto it = fs::recursive_directory_iterator(folder_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path) { return fs::exists(path); }

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

int runWithoutPrivileges(const ScratchRoot& root, const std::function<int()>& action) {
    std::error_code ignored;
    fs::permissions(root.folder(), fs::perms::all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(root.folder(), ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(),
                        fs::perms::others_read | fs::perms::group_read |
                            (it->is_directory() ? fs::perms::others_exec | fs::perms::group_exec
                                                : fs::perms::none),
                        fs::perm_options::add, ignored);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
        }
        _exit(action());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

namespace {

// A child that grows past this is stopped at once: a reader of an endless
// file would otherwise take the machine's memory before its time is up.
constexpr long long maxChildMemory = 1ll << 30;

long long residentBytes(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stoll(line.substr(6)) * 1024;
    return 0;
}

}  // namespace

int runWithin(double seconds, const std::function<int()>& action) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Opening an address makes the process reap its children by itself; the
    // child's status is only available with the default disposition.
    struct sigaction defaults {}, previous {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &defaults, &previous);
    int result = -1;
    const pid_t child = fork();
    if (child == 0) _exit(action());
    if (child > 0) {
        int status = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        pid_t done = 0;
        while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline && residentBytes(child) < maxChildMemory)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == child) {
            result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
    }
    sigaction(SIGCHLD, &previous, nullptr);
    return result;
}
