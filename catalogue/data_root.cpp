#include "catalogue/data_root.h"

#include "catalogue/safe_file.h"

const std::string dataRoot = "VESTRALUME/";
const std::string stateFolder = "VESTRALUME/n/";
const std::string urlDirectoryFile = "VESTRALUME/links.tsv";
const std::string channelCountFile = "VESTRALUME/1/count.txt";

std::string thumbnailPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".Quillon";
}

std::string linkPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".txt";
}

std::string pageFile(int list) { return stateFolder + "z" + std::to_string(list) + ".txt"; }

std::string tilePathFile(int list, int tile) {
    return stateFolder + "n" + std::to_string(tile) + (list == 2 ? "b" : list == findList ? "c" : "") + ".txt";
}

std::string placeholderPath(int k) { return dataRoot + "i/" + std::to_string(k) + ".jpg"; }

std::string stateFile(const std::string& name) { return stateFolder + name; }

std::optional<int> readChannelCount(const std::string& folder) {
    const std::string path = folder.empty() ? channelCountFile : folder + "/" + channelCountFile;
    std::string text;
    if (readLimitedFile(path, stateFileLimit, text) != fileRead) return std::nullopt;
    // Only plain decimal digits, optionally followed by a line end: the file
    // is written by the importer and anything else means it is damaged.
    if (text.size() > 15) text.resize(15);
    long long count = 0;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        count = count * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || digits > 8) return std::nullopt;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] != '\n' && text[i] != '\r') return std::nullopt;
    if (count < 1 || count > maxChannelCount) return std::nullopt;
    return static_cast<int>(count);
}

int lastFirstChannelFor(int count) {
    const int beyondFirstPage = count > selectableTiles ? count - selectableTiles : 0;
    return 1 + pageStep * ((beyondFirstPage + pageStep - 1) / pageStep);
}

int lastFirstChannel(int list, const std::optional<int>& recordedCount) {
    if (list == 1 && recordedCount) return lastFirstChannelFor(*recordedCount);
    return deliveredLastFirstChannel;
}

bool channelExists(int list, int channel, const std::optional<int>& recordedCount) {
    if (list == 1 && recordedCount) return channel >= 1 && channel <= *recordedCount;
    return true;
}
