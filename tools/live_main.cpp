// quillon-live: keeps the pictures of the wall's media channels current.
// The viewer starts it in the folder holding the data root, with a
// connection on standard input over which it says which list is on the
// wall, which channel it is playing and when captures must pause; the
// companion ends when that connection closes (the viewer ended).
//
//   quillon-live [--root FOLDER] [--once] [--log]
//     --once   capture the current page and its neighbours once and end
//              (no viewer needed; list 1 unless --list 2)
//     --log    say on standard error what each capture found
// VESTRALUME/live.txt holds its settings (dataroot/live_settings.h).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "dataroot/data_root.h"
#include "dataroot/live_settings.h"
#include "dataroot/safe_file.h"
#include "state/state_files.h"
#include "tools/live_companion.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the viewer said last.
struct ViewerState {
    int list = 1;
    bool paused = false;
    std::string playing;  // the address played inside the window
    bool gone = false;
};

// Reads the viewer's lines that have arrived, without waiting:
// "list N", "pause", "resume", "playing ADDRESS", "stopped".
void readViewer(ViewerState& viewer, std::string& pending) {
    for (;;) {
        pollfd input{0, POLLIN, 0};
        if (poll(&input, 1, 0) <= 0) return;
        char buffer[512];
        const ssize_t length = read(0, buffer, sizeof buffer);
        if (length <= 0) {
            viewer.gone = true;
            return;
        }
        pending.append(buffer, static_cast<size_t>(length));
        if (pending.size() > 4096) pending.erase(0, pending.size() - 4096);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            int list = 0;
            if (std::sscanf(line.c_str(), "list %d", &list) == 1 && (list == 1 || list == 2))
                viewer.list = list;
            else if (line == "pause")
                viewer.paused = true;
            else if (line == "resume")
                viewer.paused = false;
            else if (line.compare(0, 8, "playing ") == 0)
                viewer.playing = line.substr(8);
            else if (line == "stopped")
                viewer.playing.clear();
        }
    }
}

LiveSettings readSettings() {
    std::string text;
    readLimitedFile(liveSettingsFile, stateFileLimit, text);
    return parseLiveSettings(text);
}

long long secondsSince1970() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One capture running on its own thread.
struct Job {
    LiveChannel channel;
    std::thread thread;
    std::atomic<bool> done{false};
    Capture capture;
};

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    bool once = false, log = false;
    int onceList = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--root" && i + 1 < argc) root = argv[++i];
        else if (argument == "--once") once = true;
        else if (argument == "--log") log = true;
        else if (argument == "--list" && i + 1 < argc) onceList = std::atoi(argv[++i]) == 2 ? 2 : 1;
        else {
            std::fprintf(stderr, "usage: quillon-live [--root FOLDER] [--once [--list 1|2]] [--log]\n");
            return 2;
        }
    }
    if (!root.empty() && chdir(root.c_str()) != 0) {
        std::fprintf(stderr, "quillon-live: cannot enter %s\n", root.c_str());
        return 1;
    }
    av_log_set_level(log ? AV_LOG_ERROR : AV_LOG_QUIET);
    avformat_network_init();
    removeStaleLiveFiles();
    {
        const std::string folder = liveFolder.substr(0, liveFolder.size() - 1);
        std::string ignored;
        if (readLimitedFile(folder, 0, ignored) == fileMissing) {
            // Made beside the root's other folders; a link in its place is not followed.
            if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
                std::fprintf(stderr, "quillon-live: cannot make %s\n", folder.c_str());
                return 1;
            }
        }
    }

    ViewerState viewer;
    viewer.list = onceList;
    std::string pending;
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<Job>> jobs;
    // When each channel (list, number) is next due.
    std::map<std::pair<int, int>, Clock::time_point> due;
    std::set<std::pair<int, int>> doneOnce;
    std::map<int, std::string> media = readMediaDirectory();
    // The slow sweep's next channel number.
    int sweepNext = 1;
    auto startCapture = [&jobs, &stop](const LiveChannel& channel) {
        auto job = std::make_unique<Job>();
        job->channel = channel;
        Job* running = job.get();
        CaptureLimits limits;
        limits.stop = &stop;
        running->thread = std::thread([running, limits] {
            running->capture = captureFirstWorking(running->channel, limits, captureFirstPicture);
            running->done = true;
        });
        jobs.push_back(std::move(job));
    };
    Clock::time_point directoryRead = Clock::now();
    // The files the plan is made from are read a few times a second; what
    // the viewer says is read every round, so a pause takes effect at once.
    Clock::time_point lastPlan;
    LiveSettings settings = readSettings();

    for (;;) {
        if (!once) readViewer(viewer, pending);
        const bool planning = Clock::now() - lastPlan >= std::chrono::milliseconds(250);
        if (planning) settings = readSettings();
        const bool pausing = viewer.paused || !settings.pictures;
        stop = viewer.gone || pausing;
        // Finished captures are written.
        bool finished = false;
        for (auto job = jobs.begin(); job != jobs.end();) {
            if (!(*job)->done) {
                ++job;
                continue;
            }
            (*job)->thread.join();
            const Capture& capture = (*job)->capture;
            const LiveChannel& channel = (*job)->channel;
            // A capture given up for a pause is not a dead channel.
            if (!(stop && capture.failure == CaptureFailure::timedOut)) {
                std::string problem;
                if (!recordCapture(channel, capture, secondsSince1970(), problem))
                    std::fprintf(stderr, "quillon-live: %s\n", problem.c_str());
                else if (log)
                    std::fprintf(stderr, "quillon-live: %d-%d %s %s\n", channel.list, channel.channel,
                                 capture.failure == CaptureFailure::none ? "live" : describeFailure(capture.failure),
                                 capture.detail.c_str());
                due[{channel.list, channel.channel}] = Clock::now() + std::chrono::seconds(settings.intervalSeconds);
                if (once) doneOnce.insert({channel.list, channel.channel});
            }
            job = jobs.erase(job);
            finished = true;
        }
        if (viewer.gone) break;
        if (Clock::now() - directoryRead > std::chrono::seconds(10)) {
            media = readMediaDirectory();
            directoryRead = Clock::now();
            // Times already past say no more than no time at all: the record
            // stays as small as the channels renewed within an interval.
            for (auto when = due.begin(); when != due.end();)
                when = when->second < directoryRead ? due.erase(when) : std::next(when);
        }

        // A freed connection is used at once.
        if (!planning && !finished && !(once && jobs.empty())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        lastPlan = Clock::now();
        const std::optional<std::vector<int>> page = readIntList(pageFile(viewer.list), wallTiles);
        std::vector<int> order = page ? captureOrder(*page) : std::vector<int>();
        const std::optional<int> count = readChannelCount();
        // Favourites above the count are blank slots, whatever link file
        // an earlier favourite left there.
        const int favourites = readInt(stateFile(StateFile::favouritesCount)).value_or(0);
        auto captured = [&](int number) {
            return viewer.list == 2 ? number >= 1 && number <= favourites : channelExists(viewer.list, number, count);
        };
        bool allDone = true;
        if (!pausing) {
            for (int number : order) {
                if (!captured(number)) continue;
                const std::pair<int, int> key{viewer.list, number};
                if (once && doneOnce.count(key)) continue;
                std::optional<LiveChannel> channel = mediaChannel(viewer.list, number, media);
                if (!channel || channel->address == viewer.playing) continue;
                allDone = false;
                auto when = due.find(key);
                if (when != due.end() && Clock::now() < when->second) continue;
                if (static_cast<int>(jobs.size()) >= settings.connections) break;
                bool busy = false;
                for (const auto& job : jobs)
                    busy = busy || (job->channel.host == channel->host) ||
                           (job->channel.list == channel->list && job->channel.channel == channel->channel);
                if (busy) continue;
                startCapture(*channel);
            }
        }
        // The slow sweep of the whole list, when it is on: one capture at a
        // time, only while nothing else runs, a few numbers looked at each
        // round.
        if (!once && !pausing && settings.sweep && jobs.empty()) {
            const int last = viewer.list == 2 ? std::max(favourites, 1) : count ? *count : deliveredChannelCount;
            for (int looked = 0; looked < 64 && jobs.empty(); ++looked, ++sweepNext) {
                if (sweepNext > last) sweepNext = 1;
                const std::pair<int, int> key{viewer.list, sweepNext};
                auto when = due.find(key);
                if (when != due.end() && Clock::now() < when->second) continue;
                if (!captured(sweepNext)) continue;
                std::optional<LiveChannel> channel = mediaChannel(viewer.list, sweepNext, media);
                if (channel && channel->address != viewer.playing) startCapture(*channel);
            }
        }
        if (once && allDone && jobs.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop = true;
    for (auto& job : jobs) job->thread.join();
    avformat_network_deinit();
    return 0;
}
