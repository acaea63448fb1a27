#include "launch/playlist_refresh.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "dataroot/data_root.h"
#include "dataroot/sources_file.h"
#include "launch/card_maker.h"
#include "platform/report.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

constexpr long long lookEveryMilliseconds = 5000;
constexpr long long leastGapMilliseconds = 60000;

StartedProgram refresher;
bool looked = false, attempted = false;
long long lastLook = 0, lastAttempt = 0;

bool startRefresh() {
    const std::vector<std::string> command = importerCommand("--refresh");
    if (command.empty()) return false;
    refresher = startFedProgram(command, dataRoot + "refresh.log");
    return refresher.started;
}

}  // namespace

bool refreshAttemptDue(bool sourcesDue, bool running, bool attemptedBefore,
                       long long millisecondsSinceAttempt, long long refreshSeconds) {
    if (!sourcesDue || running) return false;
    if (!attemptedBefore) return true;
    const long long gap = std::max(leastGapMilliseconds, refreshSeconds * 1000);
    return millisecondsSinceAttempt >= gap;
}

void tendPlaylistRefresh(long long nowMilliseconds) {
    if (looked && nowMilliseconds - lastLook < lookEveryMilliseconds) return;
    looked = true;
    lastLook = nowMilliseconds;
    // Where programs are not started beside the wall (Windows) there is no
    // refresh to start.
    static const bool canStart = !runningProgramPath().empty();
    if (!canStart) return;
    const bool running = refresher.handle >= 0 && programRunning(refresher);
    if (!running && refresher.handle >= 0) releaseProgram(refresher);
    RememberedSources sources;
    bool missing = false;
    std::string problem;
    if (!readSources("", sources, missing, problem)) return;
    const bool due = refreshDue(sources, static_cast<long long>(std::time(nullptr)));
    if (!refreshAttemptDue(due, running, attempted, nowMilliseconds - lastAttempt, sources.refreshSeconds))
        return;
    attempted = true;
    lastAttempt = nowMilliseconds;
    if (!startRefresh())
        report(ReportLevel::problem, "Quillon: the playlists are due for a refresh, but quillon-import, "
                                     "which refreshes them, could not be started beside the program");
}
