#include "import/import_dedupe.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {

bool isAsciiAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Words that tell a quality or a resolution, not a channel.
bool isQualityWord(const std::string& word) {
    static const std::unordered_set<std::string> words = {
        "hd", "fhd", "uhd", "sd", "hq", "lq", "4k", "8k", "hdr", "hevc", "h264", "h265",
        "240p", "360p", "480p", "540p", "576p", "720p", "1080p", "1080i", "2160p", "50fps", "60fps"};
    return words.count(word) != 0;
}

}  // namespace

std::string duplicateMatchName(const std::string& name) {
    std::vector<std::string> words;
    std::string word;
    int brackets = 0;
    auto endWord = [&]() {
        if (!word.empty() && !isQualityWord(word)) words.push_back(word);
        word.clear();
    };
    for (char raw : name) {
        const unsigned char c = static_cast<unsigned char>(raw);
        if (c == '(' || c == '[' || c == '{') {
            endWord();
            ++brackets;
        } else if (c == ')' || c == ']' || c == '}') {
            endWord();
            if (brackets > 0) --brackets;
        } else if (brackets > 0) {
            continue;
        } else if (isAsciiAlnum(c) || c >= 0x80) {
            word += lowerAscii(raw);
        } else {
            endWord();
        }
    }
    endWord();
    std::string joined;
    for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
    // A name of nothing but qualities or brackets keeps itself, so two such
    // channels are not taken for one.
    if (joined.empty()) {
        for (char c : name) joined += lowerAscii(c);
    }
    return joined;
}

std::string channelKey(const PlaylistEntry& entry) {
    if (!entry.tvgId.empty()) {
        std::string id;
        for (char c : entry.tvgId) id += lowerAscii(c);
        return "id " + id;
    }
    return "name " + entry.group + "\t" + duplicateMatchName(entry.name);
}

MergedPlaylist mergeDuplicates(std::vector<PlaylistEntry> entries) {
    MergedPlaylist merged;
    std::unordered_map<std::string, size_t> channelOf;
    for (PlaylistEntry& entry : entries) {
        auto found = channelOf.emplace(channelKey(entry), merged.channels.size());
        if (found.second) {
            merged.channels.push_back(std::move(entry));
            merged.alternatives.emplace_back();
            continue;
        }
        ++merged.merged;
        const size_t channel = found.first->second;
        std::vector<std::string>& alternatives = merged.alternatives[channel];
        if (entry.address != merged.channels[channel].address &&
            std::find(alternatives.begin(), alternatives.end(), entry.address) == alternatives.end())
            alternatives.push_back(std::move(entry.address));
    }
    return merged;
}
