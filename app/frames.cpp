#include "app/frames.h"

#include <chrono>
#include <cstring>
#include <string>

#if __has_include(<sys/inotify.h>)
#include <sys/inotify.h>
#include <unistd.h>
#define QUILLON_CHANGE_REPORTS 1
#endif

#include "app/shell.h"
#include "assets/texture.h"
#include "nav/find.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

long serialOf(const Texture* texture) { return texture ? texture->serial : 0; }

// Floats compare by their bits: a NaN read from a file is then the same
// picture as the NaN before it, and never a reason for endless frames.
bool sameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameFloat(const std::optional<float>& a, const std::optional<float>& b) {
    return a.has_value() == b.has_value() && (!a || sameFloat(*a, *b));
}

#ifdef QUILLON_CHANGE_REPORTS

// Change reports for the state folder: a notice of every file written,
// created, renamed or removed there. -1 while there is no watch (none could
// be set up yet, or the folder itself went away); then the files are read
// on every look and a watch is tried again.
int changeReports = -1;

bool watchStateFolder() {
    if (changeReports < 0) changeReports = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (changeReports < 0) return false;
    const std::string folder = stateFolder.substr(0, stateFolder.size() - 1);
    const int watch = inotify_add_watch(changeReports, folder.c_str(),
                                        IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                            IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
    if (watch >= 0) return true;
    close(changeReports);
    changeReports = -1;
    return false;
}

// Whether the reports since the last call may concern b.txt or u.txt. True
// when no watch is in place.
bool wallFilesReported() {
    if (changeReports < 0) {
        watchStateFolder();
        return true;
    }
    bool reported = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(changeReports, buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW)) {
                // The folder went away or reports were lost: start again.
                close(changeReports);
                changeReports = -1;
                return true;
            }
            const char* name = event->len > 0 ? event->name : "";
            if (std::strcmp(name, "b.txt") == 0 || std::strcmp(name, "u.txt") == 0) reported = true;
        }
    }
    return reported;
}

#else

bool wallFilesReported() { return true; }

#endif

}  // namespace

WallFiles currentWallFiles() {
    using Clock = std::chrono::steady_clock;
    static WallFiles last;
    static Clock::time_point lastRead;
    static bool everRead = false;
    const Clock::time_point now = Clock::now();
    const bool reported = wallFilesReported();
    if (reported || !everRead || now - lastRead >= std::chrono::seconds(1)) {
        last.selectedTile = readInt(stateFile(StateFile::selectedTile));
        last.wallScale = readFloat(stateFile(StateFile::wallScale));
        lastRead = now;
        everRead = true;
    }
    return last;
}

FrameState currentFrameState() {
    FrameState state;
    state.list = currentList;
    const WallFiles files = currentWallFiles();
    state.selectedTile = files.selectedTile;
    state.wallScale = files.wallScale;
    if (currentList == catalogueList || currentList == favouritesList || currentList == findList) {
        for (int tile = 1; tile <= 16; ++tile) {
            state.tiles[tile] =
                blankTiles[currentList][tile] ? -1 : serialOf(tileTextures[currentList][tile]);
            state.refreshRunning = state.refreshRunning || thumbnailRefresh[currentList][tile];
        }
    }
    state.selection = serialOf(selectionTexture);
    state.lit = framesDrawn == 0;
    state.cameraPitch = cameraPitch;
    state.cameraYaw = cameraYaw;
    state.aspectRatio = aspectRatio;
    state.findShown = findShown();
    return state;
}

bool samePicture(const FrameState& a, const FrameState& b) {
    if (a.list != b.list || a.selectedTile != b.selectedTile || !sameFloat(a.wallScale, b.wallScale))
        return false;
    for (int tile = 1; tile <= 16; ++tile)
        if (a.tiles[tile] != b.tiles[tile]) return false;
    return a.selection == b.selection && a.lit == b.lit && a.findShown == b.findShown &&
           sameFloat(a.cameraPitch, b.cameraPitch) &&
           sameFloat(a.cameraYaw, b.cameraYaw) && sameFloat(a.aspectRatio, b.aspectRatio);
}

bool frameDue(const FrameState* lastDrawn, const FrameState& now) {
    return !lastDrawn || now.refreshRunning || !samePicture(*lastDrawn, now);
}

bool givingBackDue(long framesDrawn, long framesAtLastGivingBack, long millisecondsSinceLastFrame) {
    return framesDrawn != framesAtLastGivingBack && millisecondsSinceLastFrame >= restBeforeGivingBackMilliseconds;
}

bool hasExtension(const char* extensions, const char* name) {
    if (!extensions || !name || !*name) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at; at = std::strstr(at + 1, name)) {
        const bool starts = at == extensions || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}
