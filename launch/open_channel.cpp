// Opening the selected channel: the selected tile, the current list's page,
// the channel's link file and its link number lead, hop by hop through the
// state files, to an address of the URL directory.
#include <cctype>
#include <climits>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dataroot/safe_file.h"
#include "launch/alternatives.h"
#include "launch/launch.h"
#include "platform/platform.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

// The start of a file, at most `limit` bytes; empty when it cannot be read.
std::string readStart(const std::string& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

// Enough of a link file for its link number and far more of the name line
// than channelName keeps.
constexpr size_t linkFileReadLimit = 4096;

// The first integer of a link file's text, as readInt reads it.
std::optional<int> firstInt(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const size_t start = at;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    long long value = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 12; ++at, ++digits)
        value = value * 10 + (text[at] - '0');
    if (digits == 0 || value > INT_MAX) return std::nullopt;
    return text[start] == '-' ? -static_cast<int>(value) : static_cast<int>(value);
}

// Opens the channel whose link path npt.txt holds, through its copy hl.txt
// and the URL directory. A missing link file leaves hl.txt as it was: the
// previous channel's link number is used again.
void openLinkedChannel() {
    const std::string linkCopy = stateFile(StateFile::linkCopy);
    copyOver(readPath(stateFile(StateFile::linkPath), wideScan), linkCopy);
    std::optional<int> linkNumber = readInt(linkCopy);
    if (!linkNumber) return;
    std::optional<DirectoryEntry> entry = findDirectoryEntry(*linkNumber);
    if (!entry) return;
    if (entry->kind == mediaAddress)
        openMediaChannel(*linkNumber, entry->address, channelName(readStart(linkCopy, linkFileReadLimit)));
    else
        openWebAddress(entry->address);
}

}  // namespace

void openWebAddress(const std::string& address) {
    // The channel opened last wins over one still choosing its address.
    dropAddressChoice();
    if (isSafeWebAddress(address)) openAddress(address);
}

std::optional<ChannelEntry> peekChannel(int list, long long channel) {
    if ((list != 1 && list != 2) || channel < 1 || channel > INT_MAX) return std::nullopt;
    if (!channelExists(list, static_cast<int>(channel), readChannelCount())) return std::nullopt;
    std::string text;
    if (readLimitedFile(linkPath(list, static_cast<int>(channel)), stateFileLimit, text) !=
        fileRead)
        return std::nullopt;
    const std::optional<int> linkNumber = firstInt(text);
    if (!linkNumber) return std::nullopt;
    std::optional<DirectoryEntry> entry = findDirectoryEntry(*linkNumber);
    if (!entry) return std::nullopt;
    return ChannelEntry{channel, *linkNumber, *entry, channelName(text)};
}

std::optional<ChannelEntry> peekSelectedChannel() {
    const int list = currentList;
    if (list != 1 && list != 2) return std::nullopt;
    const std::optional<int> tile = readInt(stateFile(StateFile::selectedTile));
    if (!tile || *tile < 1 || *tile > selectableTiles) return std::nullopt;
    const std::optional<std::vector<int>> page = readIntList(pageFile(list), selectableTiles);
    if (!page) return std::nullopt;
    return peekChannel(list, (*page)[static_cast<size_t>(*tile - 1)]);
}

std::optional<ChannelEntry> resolveSelectedChannel() {
    const int list = currentList;
    if (list != 1 && list != 2) return std::nullopt;
    const std::string linkPathFile = stateFile(StateFile::linkPath);
    const std::string linkCopy = stateFile(StateFile::linkCopy);

    std::optional<int> tile = readInt(stateFile(StateFile::selectedTile));
    std::optional<std::vector<int>> page = readIntList(pageFile(list), 12);
    // Without the page there is no telling which channel the user sees.
    if (!page) return std::nullopt;
    long long channel = 0;
    // A tile outside the selectable rows leaves npt.txt as it is, so the
    // channel opened last (or added to the favourites last) opens again.
    if (tile && *tile >= 1 && *tile <= 12) {
        channel = (*page)[static_cast<size_t>(*tile - 1)];
        // Past the end of an imported catalogue a tile shows its placeholder
        // and opens nothing, rather than the channel opened before.
        if (!channelExists(list, static_cast<int>(channel), readChannelCount())) return std::nullopt;
        writeText(linkPathFile, linkPath(list, static_cast<int>(channel)));
    }

    // A missing link file leaves hl.txt as it was: the previous channel's
    // link number is used again.
    copyOver(readPath(linkPathFile, wideScan), linkCopy);
    std::optional<int> linkNumber = readInt(linkCopy);
    if (!linkNumber) return std::nullopt;
    std::optional<DirectoryEntry> entry = findDirectoryEntry(*linkNumber);
    if (!entry) return std::nullopt;
    return ChannelEntry{channel, *linkNumber, *entry,
                        channelName(readStart(linkCopy, linkFileReadLimit))};
}

void openSelectedChannel() {
    const std::optional<ChannelEntry> selected = resolveSelectedChannel();
    if (!selected) return;
    if (selected->entry.kind == mediaAddress)
        openMediaChannel(selected->linkNumber, selected->entry.address, selected->name);
    else
        openWebAddress(selected->entry.address);
}

void openListChannel(int list, int channel) {
    if (list != 1 && list != 2) return;
    if (!channelExists(list, channel, readChannelCount())) return;
    // Only the path just written is opened: one that did not reach npt.txt
    // would open the channel opened before.
    if (!writeText(stateFile(StateFile::linkPath), linkPath(list, channel))) return;
    openLinkedChannel();
}
