#include "dataroot/pending_cards.h"

#include <filesystem>
#include <system_error>

#include "dataroot/safe_file.h"

const char pendingCardListName[] = ".cards";
const char madeCardLogName[] = ".made";

namespace {

const std::string listHeading = "quillon cards 1 ";

// A decimal number of 1 to 9 digits filling `text` exactly; -1 otherwise.
long long wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return -1;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string formatCardList(const std::vector<std::string>& logos) {
    std::string text = listHeading + std::to_string(logos.size()) + "\n";
    for (const std::string& logo : logos) {
        // An address never holds a line end; one that did could shift every
        // later channel's logo, so it is left out instead.
        if (logo.find_first_of("\r\n") == std::string::npos) text += logo;
        text += '\n';
    }
    return text;
}

bool parseCardList(const std::string& text, std::vector<std::string>& logos) {
    logos.clear();
    size_t end = text.find('\n');
    if (end == std::string::npos || text.compare(0, listHeading.size(), listHeading) != 0) return false;
    const long long count = wholeNumber(text.substr(listHeading.size(), end - listHeading.size()));
    if (count < 0) return false;
    logos.reserve(static_cast<size_t>(count));
    size_t start = end + 1;
    while (start < text.size()) {
        end = text.find('\n', start);
        if (end == std::string::npos) return false;  // cut short
        logos.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return logos.size() == static_cast<size_t>(count);
}

std::string madeLogLine(int channel) { return std::to_string(channel) + "\n"; }

std::vector<bool> parseMadeLog(const std::string& text, int channels) {
    std::vector<bool> made(channels > 0 ? static_cast<size_t>(channels) : 0, false);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        const long long channel = wholeNumber(text.substr(start, end - start));
        if (channel >= 1 && channel <= channels) made[static_cast<size_t>(channel - 1)] = true;
        start = end + 1;
    }
    return made;
}

PendingCards readPendingCards(const std::string& folder) {
    PendingCards cards;
    const std::string listPath = folder + "/" + pendingCardListName;
    if (!hasPendingCards(folder)) return cards;
    cards.listed = true;
    std::string text;
    const FileOutcome outcome = readLimitedFile(listPath, maxCardListBytes, text);
    if (outcome != fileRead) {
        cards.problem = listPath + " " + describeFileOutcome(outcome, maxCardListBytes);
        return cards;
    }
    if (!parseCardList(text, cards.logos)) {
        cards.problem = listPath + " is not a whole list of cards";
        cards.logos.clear();
        return cards;
    }
    std::string log;
    // A missing log: nothing made yet.
    readLimitedFile(folder + "/" + madeCardLogName, maxCardListBytes, log);
    cards.made = parseMadeLog(log, static_cast<int>(cards.logos.size()));
    for (bool made : cards.made) cards.pending += made ? 0 : 1;
    return cards;
}

bool hasPendingCards(const std::string& folder) {
    std::error_code code;
    return std::filesystem::exists(
        std::filesystem::symlink_status(folder + "/" + pendingCardListName, code));
}
