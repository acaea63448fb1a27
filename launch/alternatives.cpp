#include "launch/alternatives.h"

#include <cstdlib>
#include <mutex>

#include "dataroot/alternatives_file.h"
#include "dataroot/safe_file.h"
#include "launch/launch.h"

namespace {

// How long one server is given to take a connection.
constexpr int serverTimeoutMilliseconds = 1500;

// The choice being made: `newest` counts the choices started, each try
// knows its own number, and a result is kept only for the newest.
std::mutex choiceLock;
unsigned long long newestChoice = 0;
std::optional<ChosenAddress> chosen;

}  // namespace

bool addressServer(const std::string& address, std::string& host, int& port) {
    const size_t schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos) return false;
    std::string scheme = address.substr(0, schemeEnd);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    struct Known {
        const char* scheme;
        int port;
    };
    static const Known known[] = {{"http", 80},    {"https", 443}, {"rtmp", 1935}, {"rtmps", 443},
                                  {"rtmpt", 80},   {"rtsp", 554},  {"mms", 1755},  {"mmsh", 80},
                                  {"mmst", 1755}};
    int defaultPort = 0;
    for (const Known& k : known)
        if (scheme == k.scheme) defaultPort = k.port;
    if (defaultPort == 0) return false;
    const size_t start = schemeEnd + 3;
    size_t end = address.find_first_of("/?#", start);
    if (end == std::string::npos) end = address.size();
    std::string authority = address.substr(start, end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return false;
            portText = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
    }
    if (host.empty()) return false;
    port = defaultPort;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = std::atoi(portText.c_str());
        if (port < 1 || port > 65535) return false;
    }
    return true;
}

std::vector<std::string> addressesToTry(int link, const std::string& address) {
    std::vector<std::string> addresses = {address};
    std::string text;
    if (readLimitedFile(alternativesFile, tableFileLimit, text) != fileRead) return addresses;
    std::vector<AlternativeLine> lines;
    std::string problem;
    if (!parseAlternatives(text, lines, problem)) return addresses;
    const std::vector<int> links = linksToTry(lines, link);
    for (size_t i = 1; i < links.size(); ++i) {
        const std::optional<DirectoryEntry> entry = findDirectoryEntry(links[i]);
        if (entry && entry->kind == mediaAddress && entry->address != address)
            addresses.push_back(entry->address);
    }
    return addresses;
}

std::string firstAnsweringAddress(const std::vector<std::string>& addresses, const ServerTry& tryServer,
                                  int timeoutMilliseconds) {
    if (addresses.empty()) return std::string();
    for (const std::string& address : addresses) {
        std::string host;
        int port = 0;
        if (!addressServer(address, host, port)) return address;
        if (tryServer(host, port, timeoutMilliseconds) != serverRefuses) return address;
    }
    return addresses.front();
}

void startChoosingAddress(std::vector<std::string> addresses, std::string title, ServerTry tryServer,
                          int timeoutMilliseconds) {
    unsigned long long number = 0;
    {
        std::lock_guard<std::mutex> hold(choiceLock);
        number = ++newestChoice;
        chosen.reset();
    }
    runServerTries([number, addresses = std::move(addresses), title = std::move(title),
                    tryServer = std::move(tryServer), timeoutMilliseconds]() mutable {
        const auto stillNewest = [number] {
            std::lock_guard<std::mutex> hold(choiceLock);
            return number == newestChoice;
        };
        // A newer choice ends this one before its next server: no answer is
        // wanted any more.
        const ServerTry tryWhileWanted = [&](const std::string& host, int port, int timeout) {
            return stillNewest() ? tryServer(host, port, timeout) : serverAccepts;
        };
        std::string address = firstAnsweringAddress(addresses, tryWhileWanted, timeoutMilliseconds);
        std::lock_guard<std::mutex> hold(choiceLock);
        if (number == newestChoice) chosen = ChosenAddress{std::move(address), std::move(title)};
    });
}

std::optional<ChosenAddress> takeChosenAddress() {
    std::lock_guard<std::mutex> hold(choiceLock);
    std::optional<ChosenAddress> taken = std::move(chosen);
    chosen.reset();
    return taken;
}

void dropAddressChoice() {
    std::lock_guard<std::mutex> hold(choiceLock);
    ++newestChoice;
    chosen.reset();
}

void openMediaChannel(int link, const std::string& address, const std::string& title) {
    std::vector<std::string> addresses = addressesToTry(link, address);
    if (addresses.size() < 2) {
        dropAddressChoice();
        openMediaAddress(address, title);
        return;
    }
    startChoosingAddress(std::move(addresses), title, tryServer, serverTimeoutMilliseconds);
}

void openChosenChannel() {
    if (std::optional<ChosenAddress> taken = takeChosenAddress())
        openMediaAddress(taken->address, taken->title);
}
