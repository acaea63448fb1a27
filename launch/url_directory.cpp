// The URL directory: the fixed table of web addresses keyed by link number,
// read once from VESTRALUME/links.tsv. It is the only source of the
// addresses that opening a channel hands to the desktop, so every line is
// checked as it is read and only plain https:// addresses are kept.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "launch/launch.h"

const std::string productWebPage = "https://quillon.example/";

namespace {

// Index = link number; an empty string is a number without an entry.
std::vector<std::string> addresses;
bool directoryLoaded = false;

bool isBlankOrComment(const std::string& line) {
    for (char c : line) {
        if (c == '#') return true;
        if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    return true;
}

// The link number of a line's first field: plain decimal digits from 1 to
// maxLinkNumber, or 0 when the field is anything else.
int parseLinkNumber(const std::string& field) {
    if (field.empty() || field.size() > 9) return 0;
    int number = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number <= maxLinkNumber ? number : 0;
}

void reportSkippedLine(const std::string& path, long lineNumber, const char* reason) {
    std::printf("Diretório de URLs %s: linha %ld ignorada (%s)\n", path.c_str(), lineNumber, reason);
}

}  // namespace

bool isSafeWebAddress(const std::string& address) {
    static const std::string scheme = "https://";
    if (address.compare(0, scheme.size(), scheme) != 0) return false;
    // A host must follow the scheme: "https:///etc/passwd" names no host.
    if (address.size() == scheme.size() || address[scheme.size()] == '/') return false;
    // Printable ASCII only: no space, no control character, no byte above 126.
    for (unsigned char c : address)
        if (c <= 32 || c >= 127) return false;
    return true;
}

void loadUrlDirectory(const std::string& path) {
    addresses.assign(maxLinkNumber + 1, std::string());
    directoryLoaded = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("Impossível abrir o diretório de URLs: %s\n", path.c_str());
        std::fflush(stdout);
        return;
    }
    std::string line;
    long lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (isBlankOrComment(line)) continue;
        // Files edited on Windows end their lines with a carriage return.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string::size_type tab = line.find('\t');
        int number = tab == std::string::npos ? 0 : parseLinkNumber(line.substr(0, tab));
        if (number == 0) {
            reportSkippedLine(path, lineNumber, "esperado: número de link de 1 a 1290, tab, endereço");
            continue;
        }
        std::string address = line.substr(tab + 1);
        if (!isSafeWebAddress(address)) {
            reportSkippedLine(path, lineNumber, "endereço que não é https:// simples");
            continue;
        }
        if (!addresses[number].empty()) {
            reportSkippedLine(path, lineNumber, "número de link repetido");
            continue;
        }
        addresses[number] = address;
    }
    std::fflush(stdout);
}

std::optional<std::string> findUrl(int linkNumber) {
    if (!directoryLoaded) loadUrlDirectory();
    if (linkNumber < 1 || linkNumber > maxLinkNumber) return std::nullopt;
    const std::string& address = addresses[static_cast<size_t>(linkNumber)];
    if (address.empty()) return std::nullopt;
    return address;
}
