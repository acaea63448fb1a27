#include "tools/live_companion.h"

#include <algorithm>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "dataroot/alternatives_file.h"
#include "dataroot/data_root.h"
#include "live/live_picture.h"
#include "dataroot/live_settings.h"
#include "dataroot/safe_file.h"
#include "dataroot/url_directory_file.h"
#include "platform/platform.h"
#include "platform/temporary_files.h"

namespace {

std::string readWhole(const std::string& path, size_t limit) {
    std::string bytes;
    if (readLimitedFile(path, limit, bytes) != fileRead) bytes.clear();
    return bytes;
}

bool anyName(const std::string&) { return true; }

// Keeps the card `thumbnail` holds as `kept`: a second name for the same
// file (so the import record, which looks at the card's identity, still
// knows it as the card it made), put in place in one step; a copy where a
// link cannot be made.
bool keepCard(const std::string& thumbnail, const std::string& kept, const std::string& bytes) {
    std::string fromName, toName;
    const int from = openContainingFolder(thumbnail, fromName);
    const int to = from < 0 ? -1 : openContainingFolder(kept, toName);
    bool linked = false;
    if (from >= 0 && to >= 0) {
        const std::string temporary = temporaryNameFor(toName);
        unlinkat(to, temporary.c_str(), 0);
        linked = linkat(from, fromName.c_str(), to, temporary.c_str(), 0) == 0;
        if (linked && renameat(to, temporary.c_str(), to, toName.c_str()) != 0) {
            unlinkat(to, temporary.c_str(), 0);
            linked = false;
        }
    }
    if (from >= 0) close(from);
    if (to >= 0) close(to);
    return linked || replaceFileContents(kept, bytes);
}

}  // namespace

std::map<int, std::string> readMediaDirectory() {
    std::map<int, std::string> media;
    std::istringstream lines(readWhole(urlDirectoryFile, tableFileLimit));
    std::string line;
    while (std::getline(lines, line)) {
        DirectoryEntry entry;
        if (parseDirectoryLine(line, entry) == directoryEntry && entry.kind == mediaAddress)
            media[entry.link] = entry.address;
    }
    return media;
}

std::optional<LiveChannel> mediaChannel(int list, int channel, const std::map<int, std::string>& media) {
    if (channel < 1) return std::nullopt;
    std::istringstream text(readWhole(linkPath(list, channel), stateFileLimit));
    std::string first, name;
    std::getline(text, first);
    std::getline(text, name);
    std::istringstream number(first);
    long long link = 0;
    if (!(number >> link)) return std::nullopt;
    auto found = media.find(static_cast<int>(std::clamp<long long>(link, -1, 1LL << 30)));
    if (found == media.end()) return std::nullopt;
    LiveChannel live;
    live.list = list;
    live.channel = channel;
    live.address = found->second;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    live.name = name;
    live.host = hostOf(found->second);
    std::string alternativesText;
    std::vector<AlternativeLine> lines;
    std::string problem;
    if (readLimitedFile(alternativesFile, tableFileLimit, alternativesText) == fileRead &&
        parseAlternatives(alternativesText, lines, problem)) {
        const std::vector<int> links = linksToTry(lines, found->first);
        for (size_t i = 1; i < links.size(); ++i) {
            auto other = media.find(links[i]);
            if (other != media.end()) live.alternatives.push_back(other->second);
        }
    }
    return live;
}

Capture captureFirstWorking(const LiveChannel& channel, const CaptureLimits& limits, CaptureAddress capture) {
    Capture result = capture(channel.address, limits);
    for (const std::string& address : channel.alternatives) {
        if (result.failure == CaptureFailure::none || (limits.stop && *limits.stop)) break;
        result = capture(address, limits);
    }
    return result;
}

std::vector<int> captureOrder(const std::vector<int>& page) {
    std::vector<int> order;
    auto add = [&order](long long number) {
        if (number >= 1 && number <= maxChannelCount &&
            std::find(order.begin(), order.end(), static_cast<int>(number)) == order.end())
            order.push_back(static_cast<int>(number));
    };
    for (int number : page) add(number);
    if (page.empty()) return order;
    const long long first = page.front();
    for (long long number = first - wallTiles; number < first; ++number) add(number);
    for (long long number = first + wallTiles; number < first + 2 * wallTiles; ++number) add(number);
    return order;
}

bool recordCapture(const LiveChannel& channel, const Capture& capture, long long now, std::string& problem) {
    const std::string thumbnail = thumbnailPath(channel.list, channel.channel);
    const std::string keptCard = liveCardPath(channel.list, channel.channel);
    const std::string current = readWhole(thumbnail, imageFileLimit);
    // 1. The original card: the thumbnail when it is a card (an import may
    // have written a new one since).
    CardCanvas card;
    if (!current.empty() && !isLivePicture(current) && decodeCard(current, card)) {
        if (readWhole(keptCard, imageFileLimit) != current && !keepCard(thumbnail, keptCard, current)) {
            problem = "cannot keep the card of channel " + std::to_string(channel.channel);
            return false;
        }
    } else if (!decodeCard(readWhole(keptCard, imageFileLimit), card)) {
        card = CardCanvas{cardWidth, cardHeight, std::vector<unsigned char>(cardWidth * cardHeight * 3, 40)};
    }
    // 2. The thumbnail.
    const CardCanvas picture = capture.failure == CaptureFailure::none
                                   ? pictureWithName(capture, channel.name, channel.channel)
                                   : noSignalCard(card, now);
    const std::string jpeg = markedJpeg(picture);
    if (jpeg.empty() || !replaceFileContents(thumbnail, jpeg)) {
        problem = "cannot write " + thumbnail;
        return false;
    }
    // 3. The status.
    LiveStatus status;
    status.state = capture.failure == CaptureFailure::none ? "live" : describeFailure(capture.failure);
    status.lastTry = now;
    if (!replaceFileContents(liveStatusPath(channel.list, channel.channel), formatLiveStatus(status))) {
        problem = "cannot write the status of channel " + std::to_string(channel.channel);
        return false;
    }
    return true;
}

void removeStaleLiveFiles() {
    for (const std::string& folder : {dataRoot + "1", dataRoot + "2", liveFolder.substr(0, liveFolder.size() - 1)})
        removeStaleTemporaryFiles(folder, anyName);
}
