// The logo server of tests/support/logo_server.py, started by a test on
// 127.0.0.1 on a port of the system's choosing and stopped at its end, and a
// port where nothing listens. Its tests are given QUILLON_SOURCE_DIR and
// QUILLON_PYTHON (tests/CMakeLists.txt).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The logo server, started in the background and stopped at the end.
class LogoServer {
public:
    bool start(const std::string& logos, const std::string& work) {
        portFile_ = work + "/port";
        log_ = work + "/requests.log";
        const std::string script =
            std::string(QUILLON_SOURCE_DIR) + "/tests/support/logo_server.py";
        std::vector<std::string> arguments = {QUILLON_PYTHON, script,    "--folder", logos,
                                              "--port-file",  portFile_, "--log",    log_};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, QUILLON_PYTHON, nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(portFile_);
            if (in >> port_) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    ~LogoServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string address(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() const { return linesOf(log_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string portFile_, log_;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

// A suite's work folder (its files, the server's port and log), made fresh
// in the temporary folder; nothing of the suite goes through a proxy. Empty
// when it cannot be made.
std::string newServerFolder() {
    setenv("no_proxy", "*", 1);
    setenv("NO_PROXY", "*", 1);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillon-fetch-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Stops the server started in `folder` and removes the folder.
void endServer(LogoServer*& server, const std::string& folder) {
    delete server;
    server = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace
