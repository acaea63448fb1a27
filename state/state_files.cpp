#include "state/state_files.h"

#include <sstream>
#include <utility>

#include "dataroot/safe_file.h"
#include "state/catalogue.h"
#include "platform/platform.h"

namespace {

// A state file's bytes, read as dataroot/safe_file.h says: without
// blocking, only a regular file, at most stateFileLimit bytes. Anything else
// reads as a missing file.
std::optional<std::istringstream> openStateFile(const std::string& path) {
    std::string bytes;
    if (readLimitedFile(path, stateFileLimit, bytes) != fileRead) return std::nullopt;
    return std::istringstream(std::move(bytes));
}

}  // namespace

std::optional<int> readInt(const std::string& path) {
    std::optional<std::istringstream> in = openStateFile(path);
    int value;
    if (!in || !(*in >> value)) return std::nullopt;
    return value;
}

std::optional<float> readFloat(const std::string& path) {
    std::optional<std::istringstream> in = openStateFile(path);
    float value;
    if (!in || !(*in >> value)) return std::nullopt;
    return value;
}

std::optional<std::vector<int>> readIntList(const std::string& path, int count) {
    std::optional<std::istringstream> in = openStateFile(path);
    if (!in) return std::nullopt;
    std::vector<int> numbers;
    numbers.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    int value;
    while (static_cast<int>(numbers.size()) < count && *in >> value) numbers.push_back(value);
    if (static_cast<int>(numbers.size()) < count) return std::nullopt;
    return numbers;
}

bool inScanSet(unsigned char c, ScanSet set) {
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= 'a' && c <= 'z') return true;
    if (c >= '0' && c <= '9') return true;
    if (c >= 32 && c <= 47) return true;
    if (c == ':' || c == '=' || c == '?') return true;
    return set == wideScan && c == '_';
}

std::string readPath(const std::string& path, ScanSet set) {
    std::string bytes;
    if (readLimitedFile(path, stateFileLimit, bytes) != fileRead) return std::string();
    size_t length = 0;
    while (length < bytes.size() && length < maxPathLength &&
           inScanSet(static_cast<unsigned char>(bytes[length]), set))
        ++length;
    bytes.resize(length);
    return bytes;
}

bool writeText(const std::string& path, const std::string& text) {
    return replaceFileContents(path, text);
}

bool copyOver(const std::string& source, const std::string& target) {
    // Paths read back from state files end up here: only files of the data
    // root and plain files of the working directory are copied.
    for (const std::string* path : {&source, &target})
        if (!isDataRootPath(*path) && !isWorkingDirectoryName(*path)) return false;
    return copyFileOver(source, target);
}

bool setFromTemplate(int k, const std::string& target) {
    return copyOver(stateFile(std::to_string(k) + ".txt"), target);
}

std::string formatIntList(const std::vector<int>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) text += '\n';
        text += std::to_string(numbers[i]);
    }
    return text;
}

std::string formatFloat(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
