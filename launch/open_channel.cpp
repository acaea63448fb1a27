// Opening the selected channel: the selected tile, the current list's page,
// the channel's link file and its link number lead, hop by hop through the
// state files, to an address of the URL directory.
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

// Opens the channel whose link path npt.txt holds, through its copy hl.txt
// and the URL directory. A missing link file leaves hl.txt as it was: the
// previous channel's link number is used again.
void openLinkedChannel() {
    const std::string linkCopy = stateFile("hl.txt");
    copyOver(readPath(stateFile("npt.txt"), wideScan), linkCopy);
    std::optional<int> linkNumber = readInt(linkCopy);
    if (!linkNumber) return;
    std::optional<DirectoryEntry> entry = findDirectoryEntry(*linkNumber);
    if (!entry) return;
    if (entry->kind == mediaAddress)
        openMediaAddress(entry->address, channelName(readStart(linkCopy, linkFileReadLimit)));
    else
        openWebAddress(entry->address);
}

}  // namespace

void openWebAddress(const std::string& address) {
    if (isSafeWebAddress(address)) openAddress(address);
}

void openSelectedChannel() {
    const int list = currentList;
    if (list != 1 && list != 2) return;
    const std::string linkPathFile = stateFile("npt.txt");

    std::optional<int> tile = readInt(stateFile("b.txt"));
    std::optional<std::vector<int>> page = readIntList(pageFile(list), 12);
    // Without the page there is no telling which channel the user sees.
    if (!page) return;
    // A tile outside the selectable rows leaves npt.txt as it is, so the
    // channel opened last (or added to the favourites last) opens again.
    if (tile && *tile >= 1 && *tile <= 12) {
        const int channel = (*page)[static_cast<size_t>(*tile - 1)];
        // Past the end of an imported catalogue a tile shows its placeholder
        // and opens nothing, rather than the channel opened before.
        if (!channelExists(list, channel, readChannelCount())) return;
        writeText(linkPathFile, linkPath(list, channel));
    }
    openLinkedChannel();
}

void openListChannel(int list, int channel) {
    if (list != 1 && list != 2) return;
    if (!channelExists(list, channel, readChannelCount())) return;
    // Only the path just written is opened: one that did not reach npt.txt
    // would open the channel opened before.
    if (!writeText(stateFile("npt.txt"), linkPath(list, channel))) return;
    openLinkedChannel();
}
