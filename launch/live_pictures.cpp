#include "launch/live_pictures.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "dataroot/data_root.h"
#include "dataroot/live_settings.h"
#include "dataroot/safe_file.h"
#include "dataroot/url_directory_file.h"
#include "launch/launch.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "scene/wall.h"
#include "state/state_files.h"
#include "platform/report.h"

namespace {

// A companion that ran this long before it ended was not crashing in a row.
constexpr long long steadyRunMilliseconds = 60000;
// How often the settings and the directory are looked at again.
constexpr long long settingsLookMilliseconds = 1000;

struct Companion {
    StartedProgram program;
    long long startedAt = 0;
    long long nextStart = 0;  // not before this
    int endsInARow = 0;
    // What it was told last: -1 for nothing yet.
    int toldList = -1;
    int toldPaused = -1;
    std::string toldPlaying;
    // What the root says, looked at once a second.
    long long lastLook = -settingsLookMilliseconds;
    bool wanted = false;
};

Companion companion;
int pauseReasons = 0;
std::string playingAddress;

std::string readWhole(const std::string& path, size_t limit) {
    std::string bytes;
    if (readLimitedFile(path, limit, bytes) != fileRead) bytes.clear();
    return bytes;
}

LiveSettings currentSettings() { return parseLiveSettings(readWhole(liveSettingsFile, stateFileLimit)); }

// Whether the directory has media entries, read again only when the file
// changed (it may hold a big catalogue's hundreds of thousands of lines).
bool directoryHasMedia() {
    static std::string stamp = "?";
    static bool media = false;
    std::error_code code;
    const auto size = std::filesystem::file_size(urlDirectoryFile, code);
    const auto time = code ? std::filesystem::file_time_type() : std::filesystem::last_write_time(urlDirectoryFile, code);
    const std::string now = code ? std::string() : std::to_string(size) + " " + std::to_string(time.time_since_epoch().count());
    if (now != stamp) {
        stamp = now;
        media = hasMediaEntries(readWhole(urlDirectoryFile, tableFileLimit));
    }
    return media;
}

// QUILLON_LIVE_PICTURES=off in the environment keeps live pictures off
// whatever the root says (tests whose catalogues name made-up servers, a
// metered connection).
bool offByEnvironment() {
    const char* value = std::getenv("QUILLON_LIVE_PICTURES");
    return value && std::string(value) == "off";
}

bool companionWanted() { return !offByEnvironment() && currentSettings().pictures && directoryHasMedia(); }

void stopCompanion() {
    if (companion.program.started) endProgram(companion.program, 1000);
    companion.program = StartedProgram{};
    companion.toldList = companion.toldPaused = -1;
    companion.toldPlaying.clear();
}

bool tell(const std::string& line) { return sendToProgram(companion.program, line + "\n"); }

}  // namespace

long long restartDelayMilliseconds(int endsInARow) {
    long long delay = 1000;
    for (int end = 1; end < endsInARow && delay < 60000; ++end) delay *= 2;
    return std::min<long long>(delay, 60000);
}

bool hasMediaEntries(const std::string& directoryText) {
    std::istringstream lines(directoryText);
    std::string line;
    while (std::getline(lines, line)) {
        DirectoryEntry entry;
        if (parseDirectoryLine(line, entry) == directoryEntry && entry.kind == mediaAddress) return true;
    }
    return false;
}

void setLivePicturesPaused(bool paused) {
    pauseReasons = std::max(0, pauseReasons + (paused ? 1 : -1));
}

void setLivePicturesPlaying(const std::string& address) { playingAddress = address; }

void switchLivePictures() {
    LiveSettings settings = currentSettings();
    settings.pictures = !settings.pictures;
    if (!replaceFileContents(liveSettingsFile, formatLiveSettings(settings)))
        report(ReportLevel::problem,
               "Quillon: live pictures could not be switched: " + liveSettingsFile + " cannot be written");
    if (!settings.pictures) stopCompanion();
    // The root is looked at again at the next tick.
    companion.lastLook = -1000000000;
    companion.nextStart = 0;
    companion.endsInARow = 0;
}

void tendLivePictures(long long now) {
    if (now - companion.lastLook >= settingsLookMilliseconds) {
        companion.lastLook = now;
        companion.wanted = companionWanted();
    }
    if (!companion.wanted) {
        if (companion.program.started) stopCompanion();
        companion.endsInARow = 0;
        return;
    }
    if (companion.program.started && !programRunning(companion.program)) {
        // Ended by itself: started again after a delay that grows while it
        // keeps ending.
        const bool steady = now - companion.startedAt >= steadyRunMilliseconds;
        companion.endsInARow = steady ? 1 : companion.endsInARow + 1;
        stopCompanion();
        companion.nextStart = now + restartDelayMilliseconds(companion.endsInARow);
    }
    if (!companion.program.started) {
        if (now < companion.nextStart) return;
        const std::string folder = programFolder();
        if (folder.empty()) return;
        companion.program = startFedProgram({folder + "/quillon-live"});
        companion.startedAt = now;
        if (!companion.program.started) {
            companion.endsInARow += 1;
            companion.nextStart = now + restartDelayMilliseconds(companion.endsInARow);
            return;
        }
    }
    // What changed since it was told last.
    const int paused = pauseReasons > 0 || mediaPlayerRunning() ? 1 : 0;
    if (paused != companion.toldPaused && tell(paused ? "pause" : "resume")) companion.toldPaused = paused;
    if (currentList != companion.toldList && (currentList == catalogueList || currentList == favouritesList) &&
        tell("list " + std::to_string(currentList)))
        companion.toldList = currentList;
    if (playingAddress != companion.toldPlaying &&
        tell(playingAddress.empty() ? "stopped" : "playing " + playingAddress))
        companion.toldPlaying = playingAddress;
}

void endLivePictures() {
    stopCompanion();
    companion = Companion{};
}
