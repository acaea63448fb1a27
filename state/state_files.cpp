#include "state/state_files.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

std::optional<int> readInt(const std::string& path) {
    std::ifstream in(path);
    int value;
    if (!(in >> value)) return std::nullopt;
    return value;
}

std::optional<float> readFloat(const std::string& path) {
    std::ifstream in(path);
    float value;
    if (!(in >> value)) return std::nullopt;
    return value;
}

std::optional<std::vector<int>> readIntList(const std::string& path, int count) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::vector<int> numbers;
    numbers.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    int value;
    while (static_cast<int>(numbers.size()) < count && in >> value) numbers.push_back(value);
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
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::string();
    std::string text;
    int c;
    while (text.size() < maxPathLength && (c = std::fgetc(file)) != EOF &&
           inScanSet(static_cast<unsigned char>(c), set))
        text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

bool writeText(const std::string& path, const std::string& text) {
    return replaceFileContents(path, text);
}

bool copyOver(const std::string& source, const std::string& target) {
    return copyFileOver(source, target);
}

bool setFromTemplate(int k, const std::string& target) {
    return copyOver("VESTRALUME/n/" + std::to_string(k) + ".txt", target);
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
