#ifndef _WIN32

#include "platform/network.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

ServerAnswer tryServer(const std::string& host, int port, int timeoutMilliseconds) {
    if (host.empty() || port < 1 || port > 65535) return serverUnknown;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return serverUnknown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    ServerAnswer answer = serverRefuses;
    for (addrinfo* address = found; address && answer != serverAccepts; address = address->ai_next) {
        const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                              address->ai_protocol);
        if (fd < 0) continue;
        int result = connect(fd, address->ai_addr, address->ai_addrlen);
        if (result == 0) {
            answer = serverAccepts;
        } else if (errno == EINPROGRESS) {
            for (;;) {
                const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count();
                if (left <= 0) break;
                pollfd waiting{fd, POLLOUT, 0};
                result = poll(&waiting, 1, static_cast<int>(left));
                if (result < 0 && errno == EINTR) continue;
                if (result > 0) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                        answer = serverAccepts;
                }
                break;
            }
        }
        close(fd);
    }
    freeaddrinfo(found);
    return answer;
}

void runServerTries(std::function<void()> work) {
    try {
        std::thread(work).detach();
        return;
    } catch (const std::system_error&) {
        // No thread to be had: the tries run here.
    }
    work();
}

#endif
