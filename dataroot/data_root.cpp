#include "dataroot/data_root.h"

#include "dataroot/safe_file.h"

const std::string dataRoot = std::string(rootFolderName) + "/";
const std::string stateFolder = dataRoot + "n/";
const std::string urlDirectoryFile = dataRoot + "links.tsv";
const std::string channelCountFile = dataRoot + "1/count.txt";

const StateFileName stateFileNames[13] = {
    {StateFile::selectedTile, "b.txt", "selected tile"},
    {StateFile::wallScale, "u.txt", "wall scale"},
    {StateFile::scrollDirection, "nn.txt", "scroll direction"},
    {StateFile::backwardRotation, "1c.txt", "rotation counter"},
    {StateFile::forwardRotation, "2c.txt", "rotation counter"},
    {StateFile::launchCounter, "h.txt", "launch counter"},
    {StateFile::favouritesCount, "d.txt", "favourites count"},
    {StateFile::removedFavourite, "dd.txt", "removed favourite path"},
    {StateFile::favouriteSource, "npi.txt", "favourite source path"},
    {StateFile::linkPath, "npt.txt", "link path"},
    {StateFile::favouriteTargetImage, "nppi.txt", "favourite target path"},
    {StateFile::favouriteTargetLink, "nppt.txt", "favourite target path"},
    {StateFile::linkCopy, "hl.txt", "link copy"},
};

const SceneModel sceneModels[5] = {
    {"w.txt", "model", false},          {"r.txt", "model", false},
    {"m.txt", "model", false},          {"rp.txt", "tile model", true},
    {"mp.txt", "selection model", true},
};

std::string stateFile(StateFile file) {
    return stateFolder + stateFileNames[static_cast<int>(file)].name;
}

const char* stateFileMeaning(StateFile file) { return stateFileNames[static_cast<int>(file)].meaning; }

std::string thumbnailPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".Quillon";
}

std::string linkPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".txt";
}

std::string pageFile(int list) { return stateFolder + "z" + std::to_string(list) + ".txt"; }

std::string tilePathFile(int list, int tile) {
    return stateFolder + "n" + std::to_string(tile) + (list == favouritesList ? "b" : list == findList ? "c" : "") + ".txt";
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
