// Whether a server takes connections, for choosing among a channel's
// alternative addresses before one is handed to a player.
#pragma once

#include <functional>
#include <string>

enum ServerAnswer {
    serverAccepts,  // a connection was made (and closed at once)
    serverRefuses,  // refused, unreachable, or no answer within the time given
    serverUnknown   // the host could not be looked up, or the system cannot tell
};

// Tries a TCP connection to `host` (a name, an IPv4 address or an IPv6
// address without brackets) on `port`, waiting at most `timeoutMilliseconds`
// for it; nothing is sent. On Windows the answer is always serverUnknown.
ServerAnswer tryServer(const std::string& host, int port, int timeoutMilliseconds);

// Runs `work` (server tries) without the caller waiting for it: on a thread
// of its own, or right away where no thread can be started. On Windows,
// where tryServer answers at once, right away.
void runServerTries(std::function<void()> work);
