// quillon-import: puts the channels of a playlist (M3U / M3U8) on the wall,
// as the catalogue of the user's data root.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "cards/cards_cache.h"
#include "dataroot/data_root.h"
#include "guide/guide_root.h"
#include "import/import.h"
#include "import/import_cards.h"
#include "import/import_dedupe.h"
#include "import/import_limits.h"
#include "import/import_refresh.h"
#include "import/import_report.h"
#include "dataroot/catalogue_stamp.h"
#include "dataroot/sources_file.h"
#include "platform/platform.h"
#include "platform/process.h"

#ifndef QUILLON_TEMPLATE_FROM_BIN
#define QUILLON_TEMPLATE_FROM_BIN "../share/quillon/VESTRALUME"
#endif

namespace fs = std::filesystem;

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: quillon-import [--root FOLDER] [--group NAME]... [--wait] PLAYLIST...\n"
                 "       quillon-import --list-groups PLAYLIST...\n"
                 "       quillon-import [--root FOLDER] --refresh [--refresh-every HOURS]\n"
                 "       quillon-import --now [--root FOLDER]\n"
                 "       quillon-import [--root FOLDER] --make-cards\n"
                 "Puts the channels of M3U/M3U8 playlists on Quillon's wall, in playlist order (the\n"
                 "playlists one after the other), replacing the catalogue; favourites, selection\n"
                 "and wall scale stay. A PLAYLIST is a file, - for standard input, or an http://\n"
                 "or https:// address to download.\n"
                 "  --root FOLDER    the folder holding VESTRALUME/ (default: your own,\n"
                 "                   ${XDG_DATA_HOME:-~/.local/share}/quillon, made on first use)\n"
                 "  --group NAME     import only the channels of this group (may be repeated)\n"
                 "  --list-groups    show the playlist's groups with their channel counts\n"
                 "  --guide SOURCE   a programme guide (XMLTV file or address, plain, .gz or .xz)\n"
                 "                   besides the playlist's url-tvg (may be repeated)\n"
                 "  --guide-refresh HOURS  fetch the guides again this often (default 12)\n"
                 "  --now            print what is on now and next on every channel\n"
                 "  --keep-duplicates  a tile for every entry; otherwise entries of one channel\n"
                 "                   (the same tvg-id, else the same name in the same group)\n"
                 "                   make one tile whose other addresses are tried in order\n"
                 "  --wait           make every card before switching the catalogue in, instead\n"
                 "                   of the page shown first and the rest in the background\n"
                 "  --refresh        import the playlists of the last import again, each only if\n"
                 "                   it changed (a download asks the server whether it did)\n"
                 "  --refresh-every HOURS  how often Quillon refreshes the playlists by itself\n"
                 "                   while it runs (default 24)\n"
                 "  --make-cards     make the cards still pending in the catalogue (what the\n"
                 "                   background card maker does), at low priority\n"
                 "Quillon may run meanwhile: it shows the new channels within a second.\n");
}

struct Arguments {
    std::vector<std::string> playlists;  // in the order given
    std::string root;
    bool rootGiven = false;
    std::vector<std::string> groups;
    bool listGroups = false;
    std::vector<std::string> guides;
    double guideRefreshHours = 12;
    bool now = false;
    bool wait = false;
    bool keepDuplicates = false;
    bool refresh = false;
    double refreshHours = 0;  // 0: as before (24 for a first import)
    bool makeCards = false;
};

// 0 when the arguments are complete, 1 for --help, 2 for a mistake.
int parseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const std::string& option, std::string& target) {
            if (argument == option && i + 1 < argc) {
                target = argv[++i];
                return true;
            }
            if (argument.compare(0, option.size() + 1, option + "=") == 0) {
                target = argument.substr(option.size() + 1);
                return true;
            }
            return false;
        };
        std::string group, guide, hours;
        if (argument == "--help" || argument == "-h") return 1;
        if (argument == "--now") {
            arguments.now = true;
        } else if (value("--guide", guide)) {
            arguments.guides.push_back(guide);
        } else if (value("--guide-refresh", hours)) {
            char* end = nullptr;
            arguments.guideRefreshHours = std::strtod(hours.c_str(), &end);
            if (!end || *end || !(arguments.guideRefreshHours > 0) ||
                arguments.guideRefreshHours > 24 * 365) {
                std::fprintf(stderr, "quillon-import: --guide-refresh needs a number of hours\n");
                return 2;
            }
        } else
        if (argument == "--list-groups") {
            arguments.listGroups = true;
        } else if (argument == "--wait") {
            arguments.wait = true;
        } else if (argument == "--keep-duplicates") {
            arguments.keepDuplicates = true;
        } else if (argument == "--refresh") {
            arguments.refresh = true;
        } else if (value("--refresh-every", hours)) {
            char* end = nullptr;
            arguments.refreshHours = std::strtod(hours.c_str(), &end);
            if (!end || *end || !(arguments.refreshHours > 0) || arguments.refreshHours > 24 * 365) {
                std::fprintf(stderr, "quillon-import: --refresh-every needs a number of hours\n");
                return 2;
            }
        } else if (argument == "--make-cards") {
            arguments.makeCards = true;
        } else if (value("--group", group)) {
            arguments.groups.push_back(group);
        } else if (value("--root", arguments.root)) {
            arguments.rootGiven = true;
        } else if (argument == "-" || argument.empty() || argument[0] != '-') {
            if (argument == "-" && std::count(arguments.playlists.begin(), arguments.playlists.end(), "-") > 0) {
                std::fprintf(stderr, "quillon-import: standard input (-) can be read only once\n");
                return 2;
            }
            arguments.playlists.push_back(argument);
        } else {
            std::fprintf(stderr, "quillon-import: unexpected argument \"%s\"\n", argument.c_str());
            return 2;
        }
    }
    if (arguments.makeCards) {
        if (!arguments.playlists.empty() || arguments.listGroups || !arguments.groups.empty()) {
            std::fprintf(stderr, "quillon-import: --make-cards takes no playlist\n");
            return 2;
        }
    } else if (arguments.refresh) {
        if (!arguments.playlists.empty() || arguments.listGroups || !arguments.groups.empty() ||
            arguments.keepDuplicates) {
            std::fprintf(stderr, "quillon-import: --refresh imports the playlists of the last import, "
                                 "with its groups; it takes no playlist, --group or --keep-duplicates\n");
            return 2;
        }
    } else if (arguments.playlists.empty() && !arguments.now) {
        std::fprintf(stderr, "quillon-import: which playlist? Give a file, - or an address.\n");
        return 2;
    }
    if (arguments.rootGiven && arguments.root.empty()) {
        std::fprintf(stderr, "quillon-import: --root needs a folder\n");
        return 2;
    }
    return 0;
}

// The progress display: one line redrawn in place on a terminal, at most ten
// times a second; nothing at all when standard error is not a terminal.
struct ProgressDisplay {
    bool shown = isatty(STDERR_FILENO) == 1;
    bool drawn = false;
    ImportProgress::Stage stage = ImportProgress::reading;
    std::chrono::steady_clock::time_point stageStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw;

    void show(const ImportProgress& progress, bool force = false) {
        if (!shown) return;
        const auto now = std::chrono::steady_clock::now();
        if (progress.stage != stage) {
            stage = progress.stage;
            stageStart = now;
            force = true;
        }
        if (!force && drawn && now - lastDraw < std::chrono::milliseconds(100)) return;
        lastDraw = now;
        winsize size{};
        const int width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                              ? size.ws_col - 1 : 79;
        const double seconds = std::chrono::duration<double>(now - stageStart).count();
        std::fprintf(stderr, "\r%s\x1b[K", progressLine(progress, seconds, width).c_str());
        std::fflush(stderr);
        drawn = true;
    }

    void clear() {
        if (!drawn) return;
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
        drawn = false;
    }
};

// The installed template of the data root, found beside this program (so a
// moved installation works), or the one a build folder makes.
std::string findTemplate(std::vector<std::string>& looked) {
    std::error_code code;
    const fs::path program = fs::read_symlink("/proc/self/exe", code);
    if (code) return std::string();
    const fs::path folder = program.parent_path();
    for (const fs::path& candidate :
         {folder / QUILLON_TEMPLATE_FROM_BIN, folder / ".." / "template" / rootFolderName}) {
        const fs::path clean = candidate.lexically_normal();
        looked.push_back(clean.string());
        if (fs::is_directory(clean, code)) return clean.string();
    }
    return std::string();
}

// The folder holding the data root to import into, made from the template
// when it is the user's own and does not exist yet.
bool resolveRoot(Arguments& arguments) {
    std::string error;
    if (arguments.rootGiven) {
        if (fs::is_directory(fs::path(arguments.root) / rootFolderName)) return true;
        std::fprintf(stderr,
                     "quillon-import: there is no data root %s/VESTRALUME; --root names the "
                     "folder that holds VESTRALUME/\n",
                     arguments.root.c_str());
        return false;
    }
    arguments.root = userDataFolder(error);
    if (arguments.root.empty()) {
        std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
        return false;
    }
    if (fs::is_directory(fs::path(arguments.root) / rootFolderName)) return true;
    std::vector<std::string> looked;
    const std::string templateRoot = findTemplate(looked);
    if (templateRoot.empty()) {
        std::string where;
        for (const std::string& place : looked) where += (where.empty() ? "" : " and ") + place;
        std::fprintf(stderr,
                     "quillon-import: your data folder %s/VESTRALUME does not exist yet and the "
                     "data root template is missing (looked in %s); reinstall Quillon or give "
                     "--root\n",
                     arguments.root.c_str(), where.empty() ? "no place" : where.c_str());
        return false;
    }
    std::fprintf(stderr, "quillon-import: making your data folder %s/VESTRALUME\n",
                 arguments.root.c_str());
    if (!makeRootFromTemplate(arguments.root, templateRoot, error)) {
        std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
        return false;
    }
    return true;
}

int listGroups(const Arguments& arguments) {
    std::vector<std::pair<std::string, size_t>> groups;
    std::unordered_map<std::string, size_t> index;
    ProblemLog problems;
    PlaylistSinks sinks;
    sinks.entry = [&](PlaylistEntry& entry) {
        auto found = index.emplace(entry.group, groups.size());
        if (found.second) groups.emplace_back(entry.group, 0);
        ++groups[found.first->second].second;
    };
    sinks.problem = [&](const PlaylistProblem& problem) { logProblem(problems, problem); };
    std::string error;
    for (const std::string& playlist : arguments.playlists)
        if (!readPlaylistSource(playlist, sinks, {}, error)) {
            std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
            return 1;
        }
    size_t total = 0;
    for (const auto& [name, count] : groups) {
        std::printf("%8s  %s\n", formatCount(count).c_str(), name.empty() ? "(no group)" : name.c_str());
        total += count;
    }
    std::printf("%s channels in %s groups", formatCount(total).c_str(),
                formatCount(groups.size()).c_str());
    if (problems.skipped > 0) std::printf(" (%s entries skipped)", formatCount(problems.skipped).c_str());
    std::printf("\n");
    return total > 0 ? 0 : 1;
}

// The command-line view of the guide.
int showNowAndNext(const std::string& folder) {
    std::vector<std::string> lines;
    std::string error;
    if (!nowNextReport(folder, "", secondsNow(), lines, error)) {
        std::fprintf(stderr, "quillon-import: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return 0;
}

// After the switch: remembers the catalogue's guides (or that it has none),
// reads them and puts what is on now on the cards. A guide that cannot be
// read is reported; the catalogue stays as imported.
void importGuide(const std::string& folder, const std::vector<PlaylistEntry>& entries,
                 const std::vector<std::string>& sources, double refreshHours) {
    std::vector<std::string> kept;
    for (const std::string& source : sources) {
        // A local guide is found from anywhere later.
        std::string place = source;
        std::error_code code;
        if (place.find("://") == std::string::npos && !place.empty() && place[0] != '/')
            place = fs::absolute(place, code).string();
        if (std::find(kept.begin(), kept.end(), place) == kept.end()) kept.push_back(place);
    }
    const GuideSetup setup = guideSetupFor(entries, kept, refreshHours);
    std::string error;
    if (!writeGuideSetup(folder, setup, error)) {
        std::printf("Note: the programme guide is not kept: %s.\n", error.c_str());
        return;
    }
    if (kept.empty()) return;
    std::printf("Reading the programme guide (%zu source%s)...\n", kept.size(),
                kept.size() == 1 ? "" : "s");
    std::fflush(stdout);
    const GuideRenewal renewal = refreshGuideAndCards(folder, "", setup, secondsNow(), CardOptions());
    for (const std::string& line : renewal.refresh.messages) std::printf("Guide: %s.\n", line.c_str());
    if (renewal.refresh.indexWritten)
        std::printf("Guide: %zu programmes kept for %zu guide channels; %zu cards show what is on.\n",
                    renewal.refresh.build.programmes, renewal.refresh.build.channels,
                    renewal.cardsShowing);
}

// Starts this program again as the background card maker of the root: in a
// session of its own, its output on the null device, not waited for.
bool startBackgroundCardMaker(const std::string& folder) {
    std::error_code code;
    const fs::path program = fs::read_symlink("/proc/self/exe", code);
    if (code) return false;
    const fs::path root = fs::absolute(folder, code);
    if (code) return false;
    StartedProgram maker = startProgram({program.string(), "--make-cards", "--root", root.string()});
    const bool started = maker.started;
    releaseProgram(maker);
    return started;
}

// --make-cards: the pending cards of the root's catalogue, the page on the
// wall first; the cards away from the wall at a low priority.
int makeCardsNow(const Arguments& arguments) {
    ProgressDisplay display;
    PendingCardOptions options;
    options.progress = [&](const CardProgress& cards) {
        ImportProgress progress;
        progress.stage = ImportProgress::makingCards;
        progress.cards = cards;
        display.show(progress);
    };
    const PendingCardResult result = makePendingCards(arguments.root, options);
    display.clear();
    if (result.replaced) {
        std::printf("A newer import replaced the catalogue; its cards are made by its own card maker.\n");
        return 0;
    }
    if (!result.error.empty()) {
        std::fprintf(stderr, "quillon-import: %s; %s cards are still to be made (the next start of "
                             "Quillon goes on with them).\n",
                     result.error.c_str(), formatCount(result.pending).c_str());
        return 1;
    }
    if (result.cards.damaged > 0)
        std::printf("Card cache: %s damaged entries (a link, not a regular file, or not the card its "
                    "digest names) made again.\n",
                    formatCount(result.cards.damaged).c_str());
    std::printf("%s cards made; the catalogue's cards are complete.\n", formatCount(result.cards.done).c_str());
    return 0;
}

// After an import that switched in: what it read, for --refresh and the
// automatic refresh. A playlist from standard input cannot be read again:
// then nothing is remembered, and what an earlier import remembered goes, so
// no refresh brings back that older catalogue.
void rememberSources(const Arguments& arguments, const std::vector<FetchValidators>& validators,
                     long long refreshSeconds) {
    const std::string path = (fs::path(arguments.root) / sourcesFile).string();
    std::error_code code;
    if (std::find(arguments.playlists.begin(), arguments.playlists.end(), "-") != arguments.playlists.end()) {
        fs::remove(path, code);
        std::printf("Note: a playlist from standard input cannot be refreshed; --refresh has "
                    "nothing to do for this catalogue.\n");
        return;
    }
    RememberedSources remembered;
    for (size_t i = 0; i < arguments.playlists.size(); ++i) {
        RememberedSource source;
        if (isPlaylistAddress(arguments.playlists[i])) {
            source.where = arguments.playlists[i];
            source.validator = validators[i].etag;
            source.secondValidator = validators[i].lastModified;
        } else {
            source.where = fs::absolute(arguments.playlists[i], code).lexically_normal().string();
            source.validator = fileStamp(source.where);
        }
        // A name no line can hold (a tab, a line end) is not remembered.
        if (sourceField(source.where) != source.where) {
            fs::remove(path, code);
            std::printf("Note: %s cannot be remembered for --refresh.\n", arguments.playlists[i].c_str());
            return;
        }
        remembered.sources.push_back(source);
    }
    remembered.groups = arguments.groups;
    remembered.keepDuplicates = arguments.keepDuplicates;
    remembered.importedAt = static_cast<long long>(std::time(nullptr));
    remembered.refreshSeconds =
        arguments.refreshHours > 0 ? std::max(1LL, static_cast<long long>(arguments.refreshHours * 3600))
                                   : refreshSeconds;
    if (!replaceFileContents(path, formatSources(remembered)))
        std::printf("Note: cannot write %s; --refresh will not know this import.\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    const int parsed = parseArguments(argc, argv, arguments);
    if (parsed == 1) {
        printUsage(stdout);
        return 0;
    }
    if (parsed != 0) {
        printUsage(stderr);
        return 2;
    }
    if (arguments.listGroups) return listGroups(arguments);
    if (!resolveRoot(arguments)) return 1;
    const std::string root = (fs::path(arguments.root) / rootFolderName).string();
    if (arguments.now) return showNowAndNext(arguments.root);
    if (arguments.makeCards) return makeCardsNow(arguments);

    std::string error;
    if (!lockDataRoot(arguments.root, error)) {
        std::fprintf(stderr, "quillon-import: %s. Nothing was changed.\n", error.c_str());
        return 1;
    }

    // What the last import remembered: --refresh imports it again.
    RememberedSources remembered;
    bool haveRemembered = false;
    {
        bool missing = false;
        std::string problem;
        haveRemembered = readSources(arguments.root, remembered, missing, problem);
        if (arguments.refresh && !haveRemembered) {
            std::fprintf(stderr, "quillon-import: cannot refresh: %s. Nothing was changed.\n",
                         missing ? "no import into this root remembered its playlists yet"
                                 : problem.c_str());
            return 1;
        }
        if (arguments.refresh) {
            for (const RememberedSource& source : remembered.sources)
                arguments.playlists.push_back(source.where);
            arguments.groups = remembered.groups;
            arguments.keepDuplicates = remembered.keepDuplicates;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    ProgressDisplay display;
    ImportProgress progress;
    // The entries of every playlist, in the order given, within the limits
    // of one catalogue (checked as entries arrive: an endless playlist stops
    // being read at them); each playlist's problems and validators apart.
    EntryCollector collector;
    collector.groups = arguments.groups;
    std::vector<PlaylistEntry>& entries = collector.entries;
    const size_t& otherGroups = collector.otherGroups;
    size_t skipped = 0;
    const size_t playlistCount = arguments.playlists.size();
    std::vector<ProblemLog> problemsOf(playlistCount);
    std::vector<FetchValidators> validatorsOf(playlistCount);
    size_t current = 0;
    PlaylistSinks sinks;
    sinks.entry = [&](PlaylistEntry& entry) {
        ++progress.entriesRead;
        collectEntry(collector, entry);
    };
    sinks.full = [&] { return collector.full; };
    sinks.problem = [&](const PlaylistProblem& problem) { logProblem(problemsOf[current], problem); };
    std::vector<std::string> guideSources;
    // A playlist names guides on servers; a local file is read only when
    // given with --guide (a playlist from anywhere does not choose files
    // on this machine to read).
    std::vector<std::string> localGuides;
    sinks.guide = [&](const std::string& address) {
        (isPlaylistAddress(address) ? guideSources : localGuides).push_back(address);
    };
    auto chunkRead = [&] { display.show(progress); };
    // A refresh first asks whether anything changed: each address with the
    // validators it had last time (an unchanged one costs one request
    // answered 304; a changed one is cut off at its first bytes), each file
    // by its time and size. Only then is everything read, as an import.
    if (arguments.refresh) {
        PlaylistSinks asking;
        asking.full = [] { return true; };
        bool changed = false;
        for (size_t i = 0; i < playlistCount; ++i) {
            const RememberedSource& source = remembered.sources[i];
            if (isPlaylistAddress(source.where)) {
                FetchValidators received;
                const ConditionalFetch outcome =
                    fetchPlaylistIfChanged(source.where, {source.validator, source.secondValidator}, asking,
                                           {}, received, error);
                if (outcome == playlistFetchFailed) {
                    std::fprintf(stderr, "quillon-import: cannot refresh: %s. Nothing was changed.\n",
                                 error.c_str());
                    return 1;
                }
                changed = changed || outcome == playlistFetched;
            } else {
                changed = changed || fileStamp(source.where) != source.validator;
            }
        }
        if (!changed) {
            std::printf("The playlists have not changed since they were imported; nothing was done.\n");
            // Only a new interval, when one was given, is kept.
            if (arguments.refreshHours > 0) {
                remembered.refreshSeconds =
                    std::max(1LL, static_cast<long long>(arguments.refreshHours * 3600));
                if (!replaceFileContents((fs::path(arguments.root) / sourcesFile).string(),
                                         formatSources(remembered)))
                    std::printf("Note: the new interval could not be kept.\n");
            }
            return 0;
        }
    }
    // The playlists one after the other, in the order given: one catalogue.
    // Any that cannot be read leaves the catalogue as it is.
    const bool several = playlistCount > 1;
    for (size_t i = 0; i < playlistCount && !collector.full; ++i) {
        const std::string& playlist = arguments.playlists[i];
        current = i;
        const bool read = isPlaylistAddress(playlist)
                              ? fetchPlaylistIfChanged(playlist, FetchValidators(), sinks, chunkRead,
                                                       validatorsOf[i], error) == playlistFetched
                              : readPlaylistSource(playlist, sinks, chunkRead, error);
        display.clear();
        const std::vector<std::string> report = problemReport(problemsOf[i]);
        if (several && !report.empty()) std::printf("%s:\n", playlist.c_str());
        for (const std::string& line : report) std::printf("%s%s\n", several ? "  " : "", line.c_str());
        std::fflush(stdout);
        skipped += problemsOf[i].skipped;
        if (!read) {
            std::fprintf(stderr, "quillon-import: %s%s. The catalogue was not changed.\n",
                         arguments.refresh ? "cannot refresh: " : "", error.c_str());
            return 1;
        }
    }
    if (collector.full) {
        std::fprintf(stderr, "quillon-import: %s. The catalogue was not changed.\n",
                     describeFullPlaylist(collector).c_str());
        return 1;
    }
    std::string sources;
    for (const std::string& playlist : arguments.playlists)
        sources += (sources.empty() ? "" : ", ") + playlist;
    if (entries.empty()) {
        if (otherGroups > 0)
            std::fprintf(stderr,
                         "quillon-import: none of the %s channels of %s is in the group%s asked "
                         "for; --list-groups shows the groups. The catalogue was not changed.\n",
                         formatCount(otherGroups).c_str(), sources.c_str(),
                         arguments.groups.size() == 1 ? "" : "s");
        else
            std::fprintf(stderr,
                         "quillon-import: %s holds no channel Quillon can open (%s entries "
                         "skipped). The catalogue was not changed.\n",
                         sources.c_str(), formatCount(skipped).c_str());
        return 1;
    }

    ImportOptions options;
    options.cardsLater = !arguments.wait;
    // One tile per channel: the entries of a channel listed again (another
    // quality, a mirror) become its alternative addresses.
    size_t merged = 0;
    if (!arguments.keepDuplicates) {
        MergedPlaylist channels = mergeDuplicates(std::move(entries));
        entries = std::move(channels.channels);
        options.alternatives = std::move(channels.alternatives);
        merged = channels.merged;
    }
    options.progress = [&](const ImportProgress& now) {
        progress.stage = now.stage;
        progress.cards = now.cards;
        display.show(progress);
    };
    const ImportResult result = importCatalogue(arguments.root, entries, options);
    display.clear();
    if (!result.switchedIn) {
        std::fprintf(stderr, "quillon-import: %s. The catalogue was not changed.\n",
                     result.error.c_str());
        return 1;
    }
    for (const std::string& line : importSummary(result, sources, root))
        std::printf("%s\n", line.c_str());
    rememberSources(arguments, validatorsOf,
                    haveRemembered ? remembered.refreshSeconds : defaultRefreshSeconds);
    if (merged > 0)
        std::printf("%s entries merged into the channels they repeat (their addresses are tried "
                    "when the first fails; --keep-duplicates keeps a tile for each).\n",
                    formatCount(merged).c_str());
    for (const std::string& warning : result.warnings)
        std::printf("Note: %s.\n", warning.c_str());
    for (const std::string& guide : localGuides)
        std::printf("Note: the playlist names the guide \"%s\", which is not an http or https "
                    "address; give a local guide with --guide.\n", guide.c_str());
    for (const std::string& guide : arguments.guides) guideSources.push_back(guide);
    importGuide(arguments.root, entries, guideSources, arguments.guideRefreshHours);
    if (result.pendingCards > 0) {
        // The root's lock goes with this process; the card maker never
        // takes it, so Quillon can start while it works.
        if (startBackgroundCardMaker(arguments.root))
            std::printf("%s cards are made in the background, the page on the wall first (Quillon "
                        "shows each as it is made; quillon-check-data counts those pending).\n",
                        formatCount(result.pendingCards).c_str());
        else
            std::printf("%s cards are still to be made: the background card maker could not be "
                        "started; Quillon starts it, or run quillon-import --make-cards.\n",
                        formatCount(result.pendingCards).c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Done in %.1f s.%s\n", seconds,
                result.unchanged ? ""
                                 : " A running Quillon shows the channels within a second; "
                                   "otherwise start Quillon to see them.");
    return 0;
}
