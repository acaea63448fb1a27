// quillon-bench-cards: the card maker against its yardsticks, in the same
// run on the same files.
//
//  - cards from logos in the logo cache (a first import whose logos were
//    fetched before), beside `vipsthumbnail` making JPEG thumbnails of the
//    same logo files with as many processes as there are processors;
//  - the same cards again with nothing changed (a re-import), beside the
//    first making;
//  - 20,000 cards, extrapolated from the measured count unless --count
//    20000 is given;
//  - the sample data root (quillon-make-data, 4,040 cards) made with an
//    empty card cache and made again with the cache filled, as the build's
//    second root and the tests' roots are.
//
// The logos are distinct files (PNG with transparency, JPEG, SVG) of the
// sizes logos come in, made up front in a memory file system and planted in
// a logo cache as if fetched from a server. The machines this runs on are
// shared and noisy: figures are medians of alternating runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>
#include <vips/vector.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cards/cards.h"
#include "cards/cards_cache.h"
#include "cards/logo_fetch.h"
#include "cards/logo_image.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Logo i: a coloured plate with a few shapes, of a size and format that
// vary the way logos do.
bool writeLogo(const std::string& path, int i) {
    const int width = 160 + (i * 37) % 440, height = 80 + (i * 53) % 240;
    const std::string kind = path.substr(path.rfind('.') + 1);
    if (kind == "svg") {
        char text[512];
        std::snprintf(text, sizeof text,
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\">"
                      "<rect x=\"4\" y=\"4\" width=\"%d\" height=\"%d\" rx=\"12\" fill=\"#%06x\"/>"
                      "<circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"white\"/></svg>",
                      width, height, width - 8, height - 8, (i * 2654435761u) & 0xffffff, width / 3,
                      height / 2, height / 4);
        return g_file_set_contents(path.c_str(), text, -1, nullptr);
    }
    VipsImage* image = nullptr;
    if (vips_black(&image, width, height, "bands", 4, nullptr) != 0) return false;
    const double colour[] = {double((i * 97) % 256), double((i * 57) % 256), double((i * 31) % 256),
                             255};
    const double white[] = {255, 255, 255, 255};
    VipsImage* bytes = nullptr;
    bool ok = vips_cast_uchar(image, &bytes, nullptr) == 0;
    g_object_unref(image);
    VipsImage* painted = nullptr;
    ok = ok && vips_copy(bytes, &painted, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr) == 0;
    if (bytes) g_object_unref(bytes);
    ok = ok &&
         vips_draw_rect(painted, const_cast<double*>(colour), 4, width / 10, height / 10,
                        width * 8 / 10, height * 8 / 10, "fill", TRUE, nullptr) == 0 &&
         vips_draw_circle(painted, const_cast<double*>(white), 4, width / 3, height / 2, height / 5,
                          "fill", TRUE, nullptr) == 0 &&
         vips_draw_rect(painted, const_cast<double*>(white), 4, width / 2, height / 3, width / 4,
                        height / 3, "fill", TRUE, nullptr) == 0;
    if (ok && kind == "png") {
        ok = vips_pngsave(painted, path.c_str(), nullptr) == 0;
    } else if (ok) {
        VipsImage* flat = nullptr;
        ok = vips_flatten(painted, &flat, nullptr) == 0 &&
             vips_jpegsave(flat, path.c_str(), "Q", 88, nullptr) == 0;
        if (flat) g_object_unref(flat);
    }
    if (painted) g_object_unref(painted);
    return ok;
}

std::string logoAddress(int i) {
    return "https://logos.example/channel/" + std::to_string(i) + ".png";
}

// Puts logo i into the logo cache as the fetcher would have, fetched now.
bool plantInCache(const std::string& cache, const std::string& file, int i) {
    std::string bytes, problem;
    if (!readLimitedFile(file, maxLogoBytes, bytes, problem)) return false;
    LogoRecord record;
    record.address = logoAddress(i);
    record.checked = secondsNow();
    record.contentType = "image/png";
    record.digest = digestOf(bytes);
    const std::string stem = cache + "/logos/" + digestOf(record.address);
    return replaceFile(stem + ".logo", bytes, problem) &&
           replaceFile(stem + ".txt", formatLogoRecord(record), problem);
}

// Runs vipsthumbnail over `files` with `processes` processes at once, a few
// hundred files each; false when one of them fails.
bool runVipsthumbnail(const std::vector<std::string>& files, const std::string& output,
                      int processes) {
    constexpr size_t filesPerRun = 250;
    std::vector<pid_t> running;
    bool ok = true;
    auto waitOne = [&]() {
        int status = 0;
        const pid_t done = waitpid(-1, &status, 0);
        running.erase(std::remove(running.begin(), running.end(), done), running.end());
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    for (size_t first = 0; first < files.size(); first += filesPerRun) {
        std::vector<std::string> words = {"vipsthumbnail", "--size", "232x80", "-o",
                                          output + "/%s.jpg[Q=90]"};
        for (size_t i = first; i < std::min(files.size(), first + filesPerRun); ++i)
            words.push_back(files[i]);
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        while (static_cast<int>(running.size()) >= processes) waitOne();
        pid_t child = 0;
        if (posix_spawnp(&child, "vipsthumbnail", nullptr, nullptr, argv.data(), environ) != 0)
            return false;
        running.push_back(child);
    }
    while (!running.empty()) waitOne();
    return ok;
}

#ifndef QUILLON_MAKE_DATA
#define QUILLON_MAKE_DATA "quillon-make-data"
#endif

// Seconds quillon-make-data takes for a fresh root in `target` with its
// cards cached in `cache`; negative when it fails.
double timeSampleRoot(const std::string& target, const std::string& cache) {
    std::vector<std::string> words = {QUILLON_MAKE_DATA, "--force", "--cache", cache, target};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t child = 0;
    const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (started != 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return secondsSince(start);
}

void printRow(const char* figure, const std::string& measured, const std::string& yardstick,
              double ratio, const char* target) {
    char ratioText[32] = "";
    if (ratio > 0) std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
    std::printf("%-44s %-22s %-30s %6s  %s\n", figure, measured.c_str(), yardstick.c_str(),
                ratioText, target);
}

std::string format(const char* pattern, double a, double b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 2000;
    int repetitions = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--count" && i + 1 < argc) {
            count = std::max(10, std::atoi(argv[++i]));
        } else if (argument == "--quick") {
            count = 500;
            repetitions = 1;
        } else {
            std::printf(
                "Usage: quillon-bench-cards [--quick] [--count N]\n"
                "Measures the card maker against vipsthumbnail on N logos (default "
                "2000) and prints a table.\n");
            return argument == "--help" ? 0 : 2;
        }
    }
    if (vips_init(argv[0]) != 0) return 1;
    const fs::path base =
        fs::path(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path()) /
        ("quillon-bench-cards-" + std::to_string(getpid()));
    const std::string logos = (base / "logos").string(), cache = (base / "cache").string();
    fs::create_directories(logos);
    fs::create_directories(cache + "/logos");
    const int processors = std::max(1u, std::thread::hardware_concurrency());
    std::printf("Card maker benchmark: %d logos, %d processors, working in %s\n", count, processors,
                base.c_str());
    std::fflush(stdout);

    const char* kinds[] = {"png", "png", "png", "png", "png", "png", "jpg", "jpg", "jpg", "svg"};
    std::vector<std::string> files;
    std::vector<CardRequest> cardRequests;
    for (int i = 0; i < count; ++i) {
        const std::string file = logos + "/" + std::to_string(i) + "." + kinds[i % 10];
        if (!writeLogo(file, i) || !plantInCache(cache, file, i)) {
            std::printf("could not make logo %s\n", file.c_str());
            return 1;
        }
        files.push_back(file);
        cardRequests.push_back({"Channel " + std::to_string(i + 1) + " HD", i + 1, logoAddress(i), ""});
    }

    std::vector<double> cardTimes, thumbnailTimes, againTimes, nameCardTimes;
    for (int round = 0; round < repetitions; ++round) {
        const std::string thumbnails = (base / ("thumbnails" + std::to_string(round))).string();
        fs::create_directories(thumbnails);
        auto start = Clock::now();
        if (!runVipsthumbnail(files, thumbnails, processors)) {
            std::printf("vipsthumbnail failed (is libvips-tools installed?)\n");
            return 1;
        }
        thumbnailTimes.push_back(secondsSince(start));

        // A fresh card cache and output folder: every card is drawn.
        const std::string cards = (base / ("cards" + std::to_string(round))).string();
        fs::create_directories(cards);
        for (int i = 0; i < count; ++i) cardRequests[i].output = cards + "/" + std::to_string(i) + ".jpg";
        fs::remove_all(cache + "/cards");
        CardOptions options;
        options.cacheFolder = cache;
        start = Clock::now();
        std::vector<CardResult> results = makeCards(cardRequests, options);
        cardTimes.push_back(secondsSince(start));
        const long drawn = std::count_if(results.begin(), results.end(), [](const CardResult& r) {
            return r.written && r.remade && r.logo == logoCached;
        });
        if (drawn != count) {
            std::printf("only %ld of %d cards were drawn from cached logos\n", drawn, count);
            return 1;
        }
        start = Clock::now();
        results = makeCards(cardRequests, options);
        againTimes.push_back(secondsSince(start));

        // The quick card a tile shows until its logo arrives: the name card
        // of the same channels, drawn into a fresh card cache.
        std::vector<CardRequest> nameCards = cardRequests;
        for (CardRequest& request : nameCards) request.logo.clear();
        fs::remove_all(cache + "/cards");
        start = Clock::now();
        makeCards(nameCards, options);
        nameCardTimes.push_back(secondsSince(start));
        fs::remove_all(thumbnails);
        fs::remove_all(cards);
    }

    // What drawing without libvips's run-time compiled vector code costs:
    // the same cards on one drawing thread (where that code is safe) with it
    // on, as the card maker had it, and off, as it has it now; alternating.
    std::vector<double> vectorOnTimes, vectorOffTimes;
    if (startImageLibrary()) {
        const int vectorCount = std::min(count, 1000);
        std::vector<CardRequest> some(cardRequests.begin(), cardRequests.begin() + vectorCount);
        const std::string cards = (base / "cards-vector").string();
        fs::create_directories(cards);
        for (int i = 0; i < vectorCount; ++i) some[i].output = cards + "/" + std::to_string(i) + ".jpg";
        CardOptions options;
        options.cacheFolder = cache;
        options.drawingThreads = 1;
        for (int round = 0; round < repetitions; ++round)
            for (const bool vector : {true, false}) {
                vips_vector_set_enabled(vector);
                fs::remove_all(cache + "/cards");
                const auto start = Clock::now();
                makeCards(some, options);
                (vector ? vectorOnTimes : vectorOffTimes).push_back(secondsSince(start) / vectorCount);
            }
        vips_vector_set_enabled(FALSE);
        fs::remove_all(cards);
    }

    std::vector<double> emptyCacheRoots, filledCacheRoots;
    for (int round = 0; round < repetitions; ++round) {
        const std::string rootCache = (base / "root-cache").string();
        fs::remove_all(rootCache);
        emptyCacheRoots.push_back(timeSampleRoot((base / "root").string(), rootCache));
        filledCacheRoots.push_back(timeSampleRoot((base / "root").string(), rootCache));
    }
    fs::remove_all(base / "root");

    const double cards = median(cardTimes), thumbnails = median(thumbnailTimes),
                 again = median(againTimes), nameCards = median(nameCardTimes);
    std::printf("\n%-44s %-22s %-30s %6s  %s\n", "figure", "measured", "yardstick (same run)",
                "ratio", "target");
    std::printf("%s\n", std::string(116, '-').c_str());
    printRow(format("cards from %g cached logos", count).c_str(),
             format("%.2f s, %.0f cards/s", cards, count / cards),
             format("vipsthumbnail: %.2f s", thumbnails), cards / thumbnails, "<= 2.0");
    printRow("the same again, nothing changed", format("%.2f s", again),
             format("first making: %.2f s", cards), again / cards, "<= 0.10");
    printRow("name cards of the same channels (no logo)",
             format("%.2f s, %.2f ms a card", nameCards, 1000.0 * nameCards / count),
             format("logo cards: %.2f ms a card", 1000.0 * cards / count), nameCards / cards, "");
    printRow(count == 20000 ? "20,000 cards from cached logos"
                            : "20,000 cards from cached logos (extrapolated)",
             format("%.1f s", cards * 20000.0 / count), "", 0, "<= 60 s");
    if (!vectorOnTimes.empty()) {
        const double on = median(vectorOnTimes), off = median(vectorOffTimes);
        printRow("one thread, no vector code (as now), a card", format("%.2f ms", off * 1000),
                 format("with vector code: %.2f ms", on * 1000), off / on, "");
    }
    const double emptyCache = median(emptyCacheRoots), filledCache = median(filledCacheRoots);
    if (emptyCache > 0 && filledCache > 0) {
        printRow("sample root, 4,040 cards, empty card cache", format("%.2f s", emptyCache), "", 0,
                 "");
        printRow("  made again, cards copied from the cache", format("%.2f s", filledCache),
                 format("empty cache: %.2f s", emptyCache), filledCache / emptyCache, "");
    } else {
        std::printf("(the sample root could not be made with %s)\n", QUILLON_MAKE_DATA);
    }
    std::printf("(medians of %d runs; %d drawing threads)\n", repetitions, processors);
    std::error_code ignored;
    fs::remove_all(base, ignored);
    return 0;
}
