#include "dataroot/url_directory_file.h"

namespace {

bool isPrintableWithoutSpace(const std::string& text) {
    for (unsigned char c : text)
        if (c <= 32 || c >= 127) return false;
    return true;
}

// The link number of a line's first field: 1 to 9 decimal digits, where
// 9 digits without a leading zero name a number above maxDirectoryLink
// (reported as out of range); -1 when the field is anything else.
long long parseLinkDigits(const std::string& field) {
    if (field.empty() || field.size() > 9) return -1;
    long long number = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return -1;
        number = number * 10 + (c - '0');
    }
    // "000000001" is no way the program writes a link number.
    if (field.size() == 9 && number <= maxDirectoryLink) return -1;
    return number;
}

const char* const mediaSchemes[] = {"http", "https", "rtmp", "rtmps", "rtsp", "udp", "rtp", "mms"};

}  // namespace

std::string addressScheme(const std::string& address) {
    std::string::size_type end = address.find("://");
    if (end == std::string::npos || end == 0 || end > 16) return std::string();
    return address.substr(0, end);
}

bool isSafeWebAddress(const std::string& address) {
    static const std::string scheme = "https://";
    if (address.size() > maxAddressLength) return false;
    if (address.compare(0, scheme.size(), scheme) != 0) return false;
    // A host must follow the scheme: "https:///etc/passwd" names no host.
    if (address.size() == scheme.size() || address[scheme.size()] == '/') return false;
    return isPrintableWithoutSpace(address);
}

bool isSafeMediaAddress(const std::string& address) {
    if (address.size() > maxAddressLength || !isPrintableWithoutSpace(address)) return false;
    const std::string scheme = addressScheme(address);
    bool known = false;
    for (const char* allowed : mediaSchemes) known = known || scheme == allowed;
    if (!known) return false;
    const std::string::size_type hostStart = scheme.size() + 3;
    if (hostStart >= address.size()) return false;
    const char first = address[hostStart];
    if (first == '/' || first == '?' || first == '#') return false;
    // Multicast addresses name no host of their own: "udp://@239.1.1.1:1234".
    if ((first == '@' || first == ':') && scheme != "udp" && scheme != "rtp") return false;
    return true;
}

DirectoryLineReading readDirectoryLine(const std::string& text) {
    DirectoryLineReading reading;
    std::string line = text;
    // Files edited on Windows end their lines with a carriage return.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool blank = true;
    for (char c : line) {
        if (c == '#' && blank) return reading;
        if (c != ' ' && c != '\t') {
            blank = false;
            break;
        }
    }
    if (blank) return reading;

    const auto refuse = [&reading](DirectoryLine kind, DirectoryRefusal why) {
        reading.line = kind;
        reading.refusal = why;
        return reading;
    };
    const std::string::size_type tab = line.find('\t');
    if (tab == std::string::npos) return refuse(directoryMalformed, DirectoryRefusal::notEntryShape);
    const long long number = parseLinkDigits(line.substr(0, tab));
    if (number < 0) return refuse(directoryMalformed, DirectoryRefusal::notEntryShape);
    std::string address = line.substr(tab + 1);
    LinkKind kind = webPage;
    const std::string::size_type kindTab = address.find('\t');
    if (kindTab != std::string::npos) {
        if (address.compare(kindTab + 1, std::string::npos, "media") != 0)
            return refuse(directoryMalformed, DirectoryRefusal::unknownThirdField);
        address.erase(kindTab);
        kind = mediaAddress;
    }
    reading.link = number;
    reading.kind = kind;
    if (number < 1 || number > maxDirectoryLink)
        return refuse(directoryMalformed, DirectoryRefusal::linkOutOfRange);
    reading.address = address;
    if (kind == webPage ? !isSafeWebAddress(address) : !isSafeMediaAddress(address))
        return refuse(directoryUnsafeAddress, DirectoryRefusal::unsafeAddress);
    reading.line = directoryEntry;
    return reading;
}

DirectoryLine parseDirectoryLine(const std::string& line, DirectoryEntry& entry) {
    const DirectoryLineReading reading = readDirectoryLine(line);
    if (reading.line == directoryEntry) {
        entry.link = static_cast<int>(reading.link);
        entry.address = reading.address;
        entry.kind = reading.kind;
    }
    return reading.line;
}

std::string formatDirectoryLine(const DirectoryEntry& entry) {
    std::string line = std::to_string(entry.link) + "\t" + entry.address;
    if (entry.kind == mediaAddress) line += "\tmedia";
    return line;
}
