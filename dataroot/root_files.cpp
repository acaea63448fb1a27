#include "dataroot/root_files.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "dataroot/data_root.h"

const std::string rootVersionFile = "version.txt";

bool isTemplateName(const std::string& name) {
    if (name.size() < 5 || name.size() > 6 || name.compare(name.size() - 4, 4, ".txt") != 0)
        return false;
    const std::string digits = name.substr(0, name.size() - 4);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits[0] == '0')
        return false;
    const int k = std::stoi(digits);
    return k >= 1 && k <= 20;
}

bool isStateFile(const std::string& relativePath) {
    if (relativePath.compare(0, 2, "n/") != 0) return false;
    const std::string name = relativePath.substr(2);
    if (name.find('/') != std::string::npos) return false;
    for (const SceneModel& model : sceneModels)
        if (name == model.name) return false;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".mtl") == 0) return false;
    return !isTemplateName(name);
}

namespace {

// The numbers of a dotted version, or none when it is not one.
std::vector<long> versionNumbers(const std::string& text) {
    std::vector<long> numbers;
    long number = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9' && digits < 9) {
            number = number * 10 + (c - '0');
            ++digits;
        } else if (c == '.' && digits > 0) {
            numbers.push_back(number);
            number = 0;
            digits = 0;
        } else if ((c == '\n' || c == '\r') && digits > 0) {
            break;
        } else {
            return {};
        }
    }
    if (digits == 0) return {};
    numbers.push_back(number);
    return numbers;
}

}  // namespace

int compareVersions(const std::string& a, const std::string& b) {
    std::vector<long> left = versionNumbers(a);
    std::vector<long> right = versionNumbers(b);
    if (left.empty() || right.empty()) return left.empty() == right.empty() ? 0 : (left.empty() ? -1 : 1);
    const size_t size = std::max(left.size(), right.size());
    left.resize(size, 0);
    right.resize(size, 0);
    return left < right ? -1 : (left > right ? 1 : 0);
}
