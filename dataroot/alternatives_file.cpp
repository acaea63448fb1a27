#include "dataroot/alternatives_file.h"

#include <algorithm>

#include "dataroot/data_root.h"

// Made from the constant folder name, not from another file's string, so
// it does not depend on the order files are initialised in.
const std::string alternativesFile = std::string(rootFolderName) + "/1/alternatives.tsv";

namespace {

// A number of 1 to 8 digits without a leading zero.
bool parseNumber(const std::string& text, int& number) {
    if (text.empty() || text.size() > 8 || text[0] == '0') return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

}  // namespace

std::string formatAlternatives(const std::vector<AlternativeLine>& lines) {
    std::string text;
    for (const AlternativeLine& line : lines) {
        text += std::to_string(line.channel);
        for (int link : line.links) text += "\t" + std::to_string(link);
        text += "\n";
    }
    return text;
}

bool parseAlternatives(const std::string& text, std::vector<AlternativeLine>& lines,
                       std::string& problem) {
    lines.clear();
    size_t start = 0, lineNumber = 0;
    while (start < text.size()) {
        ++lineNumber;
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            problem = "line " + std::to_string(lineNumber) + " has no line end";
            return false;
        }
        std::vector<std::string> fields;
        for (size_t at = start;;) {
            const size_t tab = text.find('\t', at);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(at, end - at));
                break;
            }
            fields.push_back(text.substr(at, tab - at));
            at = tab + 1;
        }
        start = end + 1;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        AlternativeLine line;
        if (!parseNumber(fields[0], line.channel)) {
            problem = where + "no channel number";
            return false;
        }
        if (fields.size() < 3 || fields.size() > maxAlternativeLinks + 1) {
            problem = where + "a channel with " + std::to_string(fields.size() - 1) +
                      " link numbers (2 to " + std::to_string(maxAlternativeLinks) + ")";
            return false;
        }
        for (size_t field = 1; field < fields.size(); ++field) {
            int link = 0;
            if (!parseNumber(fields[field], link)) {
                problem = where + "\"" + fields[field].substr(0, 20) + "\" is not a link number";
                return false;
            }
            if (std::find(line.links.begin(), line.links.end(), link) != line.links.end()) {
                problem = where + "link number " + std::to_string(link) + " twice";
                return false;
            }
            line.links.push_back(link);
        }
        if (!lines.empty() && lines.back().channel >= line.channel) {
            problem = where + "channel " + std::to_string(line.channel) + " out of order";
            return false;
        }
        lines.push_back(std::move(line));
    }
    return true;
}

std::vector<int> linksToTry(const std::vector<AlternativeLine>& lines, int link) {
    std::vector<int> order = {link};
    for (const AlternativeLine& line : lines) {
        if (std::find(line.links.begin(), line.links.end(), link) == line.links.end()) continue;
        for (int other : line.links)
            if (other != link) order.push_back(other);
        break;
    }
    return order;
}
