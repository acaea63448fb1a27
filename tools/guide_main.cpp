// quillon-guide: the programme guide of a data root. Shows what is on now
// and next on every catalogue channel, brings the guides up to date, and,
// started by Quillon, keeps the cards of the channels on the wall (and near
// it) showing the programme on now.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cards/cards_cache.h"
#include "dataroot/data_root.h"
#include "guide/guide_root.h"
#include "import/import.h"
#include "state/state_files.h"

namespace fs = std::filesystem;

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: quillon-guide [--root FOLDER] --now\n"
                 "       quillon-guide [--root FOLDER] --refresh\n"
                 "       quillon-guide [--root FOLDER] --follow [--viewer PID]\n"
                 "The programme guide of the channels imported with quillon-import.\n"
                 "  --now        print each catalogue channel: number, name, the title on now,\n"
                 "               its start and end, the next title (tab-separated)\n"
                 "  --refresh    fetch the guides again, index them and renew the cards\n"
                 "  --follow     keep the cards of the channels on the wall showing what is on\n"
                 "               (Quillon starts this); ends when the program PID ends\n"
                 "  --root FOLDER  the folder holding VESTRALUME/ (default: the working folder)\n");
}

struct Arguments {
    std::string root = ".";
    bool now = false, refresh = false, follow = false;
    long viewer = 0;
    double poll = 1.0;
};

volatile sig_atomic_t stopping = 0;
void onTerminate(int) { stopping = 1; }

// A programme's lines as they are drawn: the progress to the bar's pixel.
std::string shownKey(const CardRequest& request) {
    const CardProgramme& programme = request.programme;
    if (!programme.shown) return "-";
    return programme.title + "\n" + programme.times + "\n" +
           std::to_string(std::lround(programme.progress * 60)) + "\n" + programme.nextTitle +
           "\n" + programme.nextTime;
}

long long fileStamp(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    return static_cast<long long>(info.st_ino) * 1000003LL + info.st_mtim.tv_sec * 1000LL +
           info.st_mtim.tv_nsec / 1000000;
}

int showNow(const Arguments& arguments) {
    std::vector<std::string> lines;
    std::string error;
    if (!nowNextReport(arguments.root, "", secondsNow(), lines, error)) {
        std::fprintf(stderr, "quillon-guide: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return 0;
}

bool viewerAlive(int pidfd, long viewer) {
    if (viewer <= 0) return true;
    if (pidfd >= 0) {
        pollfd watch{pidfd, POLLIN, 0};
        return poll(&watch, 1, 0) == 0;
    }
    return kill(static_cast<pid_t>(viewer), 0) == 0 || errno == EPERM;
}

int follow(const Arguments& arguments) {
    signal(SIGTERM, onTerminate);
    signal(SIGINT, onTerminate);
    signal(SIGPIPE, SIG_IGN);
    int pidfd = -1;
#ifdef SYS_pidfd_open
    if (arguments.viewer > 0)
        pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(arguments.viewer), 0));
#endif
    const std::string root = arguments.root;
    const std::string setupPath = (fs::path(root) / rootFolderName / guideSetupFile).string();
    const std::string indexPath = guideIndexPath("", root);
    const std::string pagePath = (fs::path(root) / pageFile(1)).string();
    GuideSetup setup;
    long long setupStamp = -1, indexStamp = -1;
    long long lastRefreshTry = 0;
    GuideIndexHandle index;
    std::map<int, std::string> shown;  // channel number -> what its card shows
    CardOptions options;
    options.drawingThreads = 1;  // beside the wall: one core at most
    while (!stopping && viewerAlive(pidfd, arguments.viewer)) {
        const long long now = secondsNow();
        std::string error;
        const long long setupNow = fileStamp(setupPath);
        if (setupNow != setupStamp) {
            setupStamp = setupNow;
            if (!readGuideSetup(root, setup, error)) setup = GuideSetup();
            shown.clear();
        }
        if (setup.sources.empty()) return 0;  // no guide: nothing to keep current
        auto reopen = [&]() {
            const long long indexNow = fileStamp(indexPath);
            if (indexNow == indexStamp) return;
            indexStamp = indexNow;
            index = openGuideIndex(indexPath, error);
        };
        reopen();
        const long long refreshEvery = std::llround(setup.refreshHours * 3600);
        const bool stale = !index || guideIndexBuiltAt(*index) + refreshEvery <= now;
        // A refresh that failed is tried again after ten minutes.
        if (stale && now - lastRefreshTry >= 600) {
            lastRefreshTry = now;
            refreshGuide(root, "", setup, now);
            reopen();
        }
        if (index) {
            // The channels on the wall first, then a page either side.
            std::vector<int> page = readIntList(pagePath, wallTiles).value_or(std::vector<int>{1});
            const int first = page.empty() ? 1 : std::max(1, page.front());
            std::vector<size_t> places;
            const int from = first - wallTiles, to = first + 2 * wallTiles;
            for (size_t i = 0; i < setup.channels.size(); ++i) {
                const int number = setup.channels[i].number;
                if (number >= from && number < to) places.push_back(i);
            }
            std::stable_sort(places.begin(), places.end(), [&](size_t a, size_t b) {
                auto far = [&](size_t p) {
                    const int n = setup.channels[p].number;
                    return n >= first && n < first + wallTiles ? 0 : 1;
                };
                return far(a) < far(b);
            });
            std::vector<CardRequest> requests = guideCardRequests(root, setup, *index, places, now);
            std::vector<CardRequest> changed;
            std::vector<std::string> keys;
            for (CardRequest& request : requests) {
                const std::string key = shownKey(request);
                auto known = shown.find(request.number);
                // Every card is made once when the updater starts (a card
                // left from an earlier run may be out of date; one that is
                // not is left untouched, byte for byte), then when it changes.
                if (known != shown.end() && known->second == key) continue;
                keys.push_back(key);
                changed.push_back(std::move(request));
            }
            if (!changed.empty()) {
                const std::vector<CardResult> results = makeCards(changed, options);
                for (size_t i = 0; i < changed.size(); ++i)
                    if (results[i].written) shown[changed[i].number] = keys[i];
            }
        }
        // Waits a little, waking at once when the viewer ends.
        if (pidfd >= 0) {
            pollfd watch{pidfd, POLLIN, 0};
            if (poll(&watch, 1, static_cast<int>(arguments.poll * 1000)) > 0) break;
        } else {
            usleep(static_cast<useconds_t>(arguments.poll * 1e6));
        }
    }
    if (pidfd >= 0) close(pidfd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            printUsage(stdout);
            return 0;
        } else if (argument == "--now") {
            arguments.now = true;
        } else if (argument == "--refresh") {
            arguments.refresh = true;
        } else if (argument == "--follow") {
            arguments.follow = true;
        } else if (argument == "--root" && i + 1 < argc) {
            arguments.root = argv[++i];
        } else if (argument == "--viewer" && i + 1 < argc) {
            arguments.viewer = std::atol(argv[++i]);
        } else if (argument == "--poll" && i + 1 < argc) {
            arguments.poll = std::clamp(std::atof(argv[++i]), 0.05, 60.0);
        } else {
            std::fprintf(stderr, "quillon-guide: unexpected argument \"%s\"\n", argument.c_str());
            printUsage(stderr);
            return 2;
        }
    }
    if (arguments.now + arguments.refresh + arguments.follow != 1) {
        printUsage(stderr);
        return 2;
    }
    if (!fs::is_directory(fs::path(arguments.root) / rootFolderName)) {
        std::fprintf(stderr, "quillon-guide: there is no data root %s/VESTRALUME\n",
                     arguments.root.c_str());
        return 1;
    }
    if (arguments.now) return showNow(arguments);
    if (arguments.follow) return follow(arguments);
    GuideSetup setup;
    std::string error;
    if (!readGuideSetup(arguments.root, setup, error)) {
        std::fprintf(stderr, "quillon-guide: %s\n",
                     error.empty() ? "the catalogue was imported without a programme guide" : error.c_str());
        return 1;
    }
    const GuideRenewal renewal =
        refreshGuideAndCards(arguments.root, "", setup, secondsNow(), CardOptions());
    for (const std::string& line : renewal.refresh.messages)
        std::fprintf(stderr, "quillon-guide: %s\n", line.c_str());
    std::printf("%zu programmes of %zu guide channels kept; %zu cards show what is on\n",
                renewal.refresh.build.programmes, renewal.refresh.build.channels,
                renewal.cardsShowing);
    return renewal.refresh.indexWritten ? 0 : 1;
}
