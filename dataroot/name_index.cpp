#include "dataroot/name_index.h"

#include <algorithm>
#include <cstdint>

#include "dataroot/data_root.h"
#include "dataroot/safe_file.h"

const std::string nameIndexFile = std::string(rootFolderName) + "/1/names.idx";
const std::string nameIndexHeader = "quillon-names 1";

namespace {

// The ASCII letters of U+00C0..U+00FF and U+0100..U+017F, one character
// each; capitals stand for two letters: J "ij", O "oe", A "ae", T "th",
// S "ss"; '_' is no letter (the signs x and ÷).
const char latin1Letters[] = "aaaaaaAceeeeiiiidnooooo_ouuuuyTSaaaaaaAceeeeiiiidnooooo_ouuuuyTy";
const char latinExtendedLetters[] =
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiJJjjkkkllllllllllnnnnnnnnnooooooOO"
    "rrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
static_assert(sizeof latin1Letters == 65, "64 letters of Latin-1");
static_assert(sizeof latinExtendedLetters == 129, "128 letters of Latin Extended-A");

// The next character of UTF-8 `text` at `at`, moving `at` past it; a byte
// that does not start a well-formed character gives 0xFFFD and moves one.
uint32_t nextCharacter(const std::string& text, size_t& at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        ++at;
        return first;
    }
    int length = first >= 0xF0 && first <= 0xF4 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 && first < 0xE0 ? 2 : 0;
    if (length == 0 || at + static_cast<size_t>(length) > text.size()) {
        ++at;
        return 0xFFFD;
    }
    uint32_t value = first & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + static_cast<size_t>(i));
        if ((next & 0xC0) != 0x80) {
            ++at;
            return 0xFFFD;
        }
        value = (value << 6) | (next & 0x3F);
    }
    at += static_cast<size_t>(length);
    return value;
}

// The ASCII letters of a character: itself for letters and digits, lower
// case; the letter without its accent for Latin letters; empty otherwise.
const char* asciiOf(uint32_t character, char (&single)[2]) {
    char letter = 0;
    if ((character >= 'a' && character <= 'z') || (character >= '0' && character <= '9'))
        letter = static_cast<char>(character);
    else if (character >= 'A' && character <= 'Z')
        letter = static_cast<char>(character - 'A' + 'a');
    else if (character >= 0xC0 && character <= 0xFF)
        letter = latin1Letters[character - 0xC0];
    else if (character >= 0x100 && character <= 0x17F)
        letter = latinExtendedLetters[character - 0x100];
    if (letter == 0 || letter == '_') return "";
    switch (letter) {
        case 'J': return "ij";
        case 'O': return "oe";
        case 'A': return "ae";
        case 'T': return "th";
        case 'S': return "ss";
        default: break;
    }
    single[0] = letter;
    single[1] = 0;
    return single;
}

bool isWordStart(const std::string& text, size_t at) {
    return at == 0 || text[at - 1] == ' ' || text[at - 1] == '|';
}

// 2 when `word` starts a word of `text`, 1 when it is found only inside
// words, 0 when not at all.
int placeOf(const std::string& text, const std::string& word) {
    int best = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        if (isWordStart(text, at)) return 2;
        best = 1;
    }
    return best;
}

std::vector<std::string> wordsOf(const std::string& folded) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < folded.size()) {
        size_t end = folded.find(' ', start);
        if (end == std::string::npos) end = folded.size();
        if (end > start) words.push_back(folded.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// A query folded, and the channel number it is when it is nothing but
// digits.
struct FoldedQuery {
    std::string text;
    std::vector<std::string> words;
    long long number = 0;  // 0: not a number
};

FoldedQuery foldQuery(const std::string& query) {
    FoldedQuery folded;
    folded.text = foldName(query.size() > maxQueryLength * 4 ? query.substr(0, maxQueryLength * 4) : query);
    folded.words = wordsOf(folded.text);
    if (folded.words.size() == 1 && folded.text.size() <= 9 &&
        std::all_of(folded.text.begin(), folded.text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        folded.number = std::stoll(folded.text);
    return folded;
}

// The rank of an entry for a query: 0 its number, 1 a name beginning with
// the whole query, 2 every word starting a word of a name, 3 some found
// inside a name's words, 4 some found only in the group; -1 no match.
int rankOf(const NameEntry& entry, const FoldedQuery& query) {
    if (query.number != 0 && entry.channel == query.number) return 0;
    int worst = 2;
    for (const std::string& word : query.words) {
        int place = placeOf(entry.names, word);
        if (place == 0) {
            if (placeOf(entry.group, word) == 0) return -1;
            place = -1;
        }
        worst = std::min(worst, place);
    }
    if (worst == 2) {
        const std::string& names = entry.names;
        for (size_t at = names.find(query.text); at != std::string::npos;
             at = names.find(query.text, at + 1))
            if (at == 0 || names[at - 1] == '|') return 1;
        return 2;
    }
    return worst == 1 ? 3 : 4;
}

bool parseChannel(const std::string& text, size_t start, size_t end, int& channel) {
    if (end == start || end - start > 9) return false;
    long long value = 0;
    for (size_t i = start; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    channel = static_cast<int>(value);
    return true;
}

// Whether a field of the index holds only what foldName and joinSpellings
// make.
bool isFoldedField(const std::string& text, size_t start, size_t end) {
    for (size_t i = start; i < end; ++i) {
        const char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '|')) return false;
    }
    return true;
}

}  // namespace

std::string foldName(const std::string& text) {
    std::string folded;
    folded.reserve(text.size());
    bool gap = false;
    for (size_t at = 0; at < text.size();) {
        char single[2];
        const char* letters = asciiOf(nextCharacter(text, at), single);
        if (*letters == 0) {
            gap = !folded.empty();
            continue;
        }
        if (gap) folded += ' ';
        gap = false;
        folded += letters;
    }
    return folded;
}

std::string joinedWords(const std::string& folded) {
    if (folded.find(' ') == std::string::npos) return std::string();
    std::string joined;
    for (char c : folded)
        if (c != ' ') joined += c;
    return joined;
}

std::string joinSpellings(const std::vector<std::string>& spellings) {
    std::vector<std::string> kept;
    for (const std::string& spelling : spellings)
        if (!spelling.empty() && std::find(kept.begin(), kept.end(), spelling) == kept.end())
            kept.push_back(spelling);
    std::string joined;
    for (const std::string& spelling : kept) {
        if (!joined.empty()) joined += '|';
        joined += spelling;
    }
    return joined;
}

std::string nameIndexText(const std::vector<NameEntry>& entries) {
    std::string text = nameIndexHeader + " " + std::to_string(entries.size()) + "\n";
    for (const NameEntry& entry : entries)
        text += std::to_string(entry.channel) + "\t" + entry.names + "\t" + entry.group + "\n";
    return text;
}

std::optional<std::vector<NameEntry>> parseNameIndex(const std::string& text, int count) {
    if (count < 0) return std::nullopt;
    const std::string header = nameIndexHeader + " " + std::to_string(count) + "\n";
    if (text.compare(0, header.size(), header) != 0) return std::nullopt;
    std::vector<NameEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    size_t at = header.size();
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return std::nullopt;
        const size_t firstTab = text.find('\t', at);
        const size_t secondTab = firstTab < end ? text.find('\t', firstTab + 1) : std::string::npos;
        NameEntry entry;
        if (secondTab >= end || !parseChannel(text, at, firstTab, entry.channel) ||
            entry.channel != static_cast<int>(entries.size()) + 1 ||
            !isFoldedField(text, firstTab + 1, secondTab) || !isFoldedField(text, secondTab + 1, end))
            return std::nullopt;
        entry.names = text.substr(firstTab + 1, secondTab - firstTab - 1);
        entry.group = text.substr(secondTab + 1, end - secondTab - 1);
        entries.push_back(std::move(entry));
        if (entries.size() > static_cast<size_t>(count)) return std::nullopt;
        at = end + 1;
    }
    if (entries.size() != static_cast<size_t>(count)) return std::nullopt;
    return entries;
}

std::optional<std::vector<NameEntry>> readNameIndex(const std::string& folder, int count) {
    std::string text;
    const FileOutcome outcome = folder.empty()
                                    ? readLimitedFile(nameIndexFile, tableFileLimit, text)
                                    : readFileBeneath(folder, nameIndexFile, tableFileLimit, text);
    if (outcome != fileRead) return std::nullopt;
    return parseNameIndex(text, count);
}

std::vector<NameEntry> namesFromLinkFiles(int list, int count) {
    std::vector<NameEntry> entries;
    if (count <= 0) return entries;
    entries.reserve(static_cast<size_t>(count));
    std::string text;
    for (int channel = 1; channel <= count; ++channel) {
        NameEntry entry;
        entry.channel = channel;
        if (readLimitedFile(linkPath(list, channel), stateFileLimit, text) == fileRead) {
            const size_t start = text.find('\n');
            if (start != std::string::npos) {
                const size_t end = text.find('\n', start + 1);
                const std::string folded =
                    foldName(text.substr(start + 1, end == std::string::npos ? end : end - start - 1));
                entry.names = joinSpellings({folded, joinedWords(folded)});
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<int> findMatches(const std::vector<NameEntry>& entries, const std::string& query,
                             const std::vector<int>* candidates) {
    const FoldedQuery folded = foldQuery(query);
    if (folded.words.empty()) return {};
    // Ranks 0 to 4, each in list order.
    std::vector<int> ranked[5];
    int numbered = -1;
    if (folded.number != 0) {
        const auto found = std::lower_bound(
            entries.begin(), entries.end(), folded.number,
            [](const NameEntry& entry, long long number) { return entry.channel < number; });
        if (found != entries.end() && found->channel == folded.number) {
            numbered = static_cast<int>(found - entries.begin());
            ranked[0].push_back(numbered);
        }
    }
    auto consider = [&](int position) {
        if (position == numbered) return;
        const int rank = rankOf(entries[static_cast<size_t>(position)], folded);
        if (rank > 0) ranked[rank].push_back(position);
    };
    if (candidates) {
        // Marked, then taken in list order: cheaper than sorting them.
        std::vector<unsigned char> marked(entries.size(), 0);
        for (int position : *candidates)
            if (position >= 0 && static_cast<size_t>(position) < entries.size())
                marked[static_cast<size_t>(position)] = 1;
        for (size_t position = 0; position < entries.size(); ++position)
            if (marked[position]) consider(static_cast<int>(position));
    } else {
        for (size_t position = 0; position < entries.size(); ++position) consider(static_cast<int>(position));
    }
    std::vector<int> matches;
    size_t total = 0;
    for (const std::vector<int>& rank : ranked) total += rank.size();
    matches.reserve(total);
    for (const std::vector<int>& rank : ranked) matches.insert(matches.end(), rank.begin(), rank.end());
    return matches;
}

bool narrowsSearch(const std::string& previous, const std::string& query) {
    const std::string before = foldName(previous);
    const std::string now = foldName(query);
    return !before.empty() && now.compare(0, before.size(), before) == 0;
}
