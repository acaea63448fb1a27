// quillon-bench-find: finding channels by name, without a display.
//
//   quillon-bench-find --playlist FILE [--runs N]
//       reads the playlist through the importer's reader and times making
//       the index of its names (the transliteration with ICU and the file's
//       text), as the importer does; prints "index-seconds <median>".
//   quillon-bench-find --playlist FILE --write-index FOLDER
//       writes FOLDER/VESTRALUME/1/names.idx and count.txt for it, for a
//       root whose catalogue the latency benchmark fakes.
//   quillon-bench-find --playlist FILE --keys
//       times each keystroke of typed queries against the whole index, as
//       find mode searches (a query that extends the last searches only its
//       matches), beside the yardstick of one plain substring scan of every
//       name for the same query.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dataroot/data_root.h"
#include "import/import_names.h"
#include "dataroot/name_index.h"
#include "import/playlist.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool readEntries(const std::string& path, std::vector<PlaylistEntry>& entries) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    PlaylistSinks sinks;
    sinks.entry = [&](PlaylistEntry& entry) { entries.push_back(std::move(entry)); };
    readPlaylist(bytes.str(), sinks);
    return !entries.empty();
}

int timeIndex(const std::vector<PlaylistEntry>& entries, int runs) {
    std::vector<double> times, processor;
    size_t bytes = 0;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        const std::clock_t started = std::clock();
        const std::string text = nameIndexText(nameEntriesOf(entries));
        processor.push_back(static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC);
        times.push_back(secondsSince(start));
        bytes = text.size();
    }
    std::printf("index-seconds %.4f\nindex-processor-seconds %.4f\nindex-bytes %zu\nchannels %zu\n",
                median(times), median(processor), bytes, entries.size());
    return 0;
}

int writeIndex(const std::vector<PlaylistEntry>& entries, const std::string& folder) {
    const std::filesystem::path list = std::filesystem::path(folder) / "VESTRALUME" / "1";
    std::ofstream index(list / "names.idx", std::ios::binary);
    index << nameIndexText(nameEntriesOf(entries));
    std::ofstream count(list / "count.txt", std::ios::binary);
    count << entries.size() << "\n";
    return index && count ? 0 : 1;
}

// The yardstick: one plain substring scan of every name.
size_t plainScan(const std::vector<NameEntry>& entries, const std::string& query) {
    size_t found = 0;
    for (const NameEntry& entry : entries)
        if (entry.names.find(query) != std::string::npos) ++found;
    return found;
}

int timeKeys(const std::vector<PlaylistEntry>& playlist) {
    const std::vector<NameEntry> entries =
        *parseNameIndex(nameIndexText(nameEntriesOf(playlist)), static_cast<int>(playlist.size()));
    const char* queries[] = {"perv", "kirillitsa news 12", "zhongwen", "news", "1999", "qqqq"};
    std::printf("%-22s %-5s %10s %10s %12s %8s\n", "typed", "key", "matches", "search ms", "plain scan ms",
                "ratio");
    double worst = 0;
    for (const char* query : queries) {
        std::string typed, searched;
        std::vector<int> matches;
        for (const char* c = query; *c; ++c) {
            typed += *c;
            std::vector<double> times, scans;
            std::vector<int> result;
            for (int run = 0; run < 5; ++run) {
                Clock::time_point start = Clock::now();
                result = narrowsSearch(searched, typed) ? findMatches(entries, typed, &matches)
                                                        : findMatches(entries, typed);
                times.push_back(secondsSince(start) * 1000);
                start = Clock::now();
                volatile size_t found = plainScan(entries, foldName(typed));
                (void)found;
                scans.push_back(secondsSince(start) * 1000);
            }
            matches = result;
            searched = typed;
            const double took = median(times);
            worst = std::max(worst, took);
            std::printf("%-22s %-5c %10zu %10.2f %12.2f %8.2f\n", typed.c_str(), *c, matches.size(), took,
                        median(scans), took / std::max(1e-6, median(scans)));
        }
    }
    std::printf("slowest keystroke's search: %.2f ms over %zu channels\n", worst, entries.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string playlist, indexFolder;
    bool keys = false;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--playlist" && i + 1 < argc)
            playlist = argv[++i];
        else if (argument == "--write-index" && i + 1 < argc)
            indexFolder = argv[++i];
        else if (argument == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--keys")
            keys = true;
        else {
            std::fprintf(stderr, "usage: quillon-bench-find --playlist FILE [--runs N | --keys | --write-index FOLDER]\n");
            return 2;
        }
    }
    std::vector<PlaylistEntry> entries;
    if (playlist.empty() || !readEntries(playlist, entries)) {
        std::fprintf(stderr, "quillon-bench-find: no channels read from %s\n", playlist.c_str());
        return 1;
    }
    if (!indexFolder.empty()) return writeIndex(entries, indexFolder);
    if (keys) return timeKeys(entries);
    return timeIndex(entries, runs);
}
