// quillon-bench: measures start-up, a one-row scroll, a frame, the F12 batch
// copy and the memory a long evening takes, each beside a yardstick measured
// in the same run on the same files, and prints one table.
//
// The machines it runs on are shared and noisy, so every figure is a ratio
// to its yardstick, both taken as medians of several alternating runs. Each
// section runs in a fresh process of its own (this program started again
// with --section) on a fresh copy of a sample data root in a memory file
// system, so that file costs stay low and equal on both sides and no section
// inherits another's textures or peak memory.
#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/shell.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "bench/bench_support.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "platform/platform.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

#ifndef QUILLON_MAKE_DATA
#define QUILLON_MAKE_DATA "quillon-make-data"
#endif

namespace fs = std::filesystem;

namespace {

using Results = std::map<std::string, double>;

// How many repetitions each figure takes its median over (--quick: fewer).
int repetitions = 11;
int scrollSteps = 40;
int frameBlocks = 6;
int framesPerBlock = 60;

// ---------------------------------------------------------------------------
// Start-up

// The scene the figures are measured on; a root the wall cannot be drawn
// from ends the benchmark (the reason has been reported).
void setUpMeasuredScene() {
    if (!setupScene()) std::exit(1);
}

// Gives up every texture, model and material, so that setupScene starts
// again from an empty registry as in a fresh process. Models are left to
// the end of the process, as the program leaves them.
void resetScene() {
    forgetAllTextures();
    for (auto& list : tileTextures)
        for (Texture*& tile : list) tile = nullptr;
    for (auto& list : thumbnailRefresh)
        for (bool& flag : list) flag = false;
    selectionTexture = nullptr;
    tileModel = nullptr;
    selectionModel = nullptr;
    for (Material* material : materialRegistry) delete material;
    materialRegistry.clear();
}

std::vector<std::string> startupImages() {
    std::vector<std::string> images = {dataRoot + "t/b.jpg"};
    for (int k = 1; k <= 32; ++k) images.push_back(placeholderPath(k));
    return images;
}

// The GL side of loading a texture as the program does it, on pixels decoded
// beforehand: one texture object with GLU's mipmap chain.
void uploadWithGlu(const Image& decoded) {
    GLuint id = 0;
    glGenTextures(1, &id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, id);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, decoded.width, decoded.height,
                      decoded.components == 1 ? GL_LUMINANCE : GL_RGB, GL_UNSIGNED_BYTE,
                      decoded.pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glDeleteTextures(1, &id);
}

// The same with the mipmaps made by the graphics library (GL 1.4's
// GL_GENERATE_MIPMAP), for images whose sides are powers of two.
void uploadWithGeneratedMipmaps(const Image& decoded) {
    GLuint id = 0;
    glGenTextures(1, &id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, decoded.width, decoded.height, 0,
                 decoded.components == 1 ? GL_LUMINANCE : GL_RGB, GL_UNSIGNED_BYTE, decoded.pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glDeleteTextures(1, &id);
}

Results benchStartup() {
    openBenchWindow();
    const std::vector<std::string> images = startupImages();
    Results results;

    auto start = BenchClock::now();
    const long decodesBefore = decodeCount;
    setUpMeasuredScene();
    glFinish();
    results["startup.cold_ms"] = millisecondsSince(start);
    results["startup.decodes"] = static_cast<double>(decodeCount - decodesBefore);

    std::vector<double> setupTimes, plainTimes;
    for (int run = 0; run < repetitions; ++run) {
        resetScene();
        auto timeSetup = [&] {
            auto t = BenchClock::now();
            setUpMeasuredScene();
            glFinish();
            setupTimes.push_back(millisecondsSince(t));
        };
        auto timePlain = [&] {
            auto t = BenchClock::now();
            for (const std::string& image : images) decodePlain(image);
            plainTimes.push_back(millisecondsSince(t));
        };
        if (run % 2) {
            timePlain();
            timeSetup();
        } else {
            timeSetup();
            timePlain();
        }
    }
    results["startup.setup_ms"] = median(setupTimes);
    results["startup.plain_ms"] = median(plainTimes);

    // Where setupScene's time goes: the program's own decoder on the same
    // files, and the texture uploads with their mipmap chains.
    std::vector<double> decoderTimes, gluTimes, ownTimes, generatedTimes;
    std::vector<Image> decoded;
    for (const std::string& image : images)
        if (std::optional<Image> picture = decodeJpeg(image)) decoded.push_back(std::move(*picture));
    for (int run = 0; run < repetitions; ++run) {
        auto t = BenchClock::now();
        for (const std::string& image : images) decodeJpeg(image);
        decoderTimes.push_back(millisecondsSince(t));
        t = BenchClock::now();
        for (const Image& image : decoded) uploadWithGlu(image);
        glFinish();
        gluTimes.push_back(millisecondsSince(t));
        t = BenchClock::now();
        for (const Image& image : decoded) {
            size_t bytes = 0;
            const GLuint id = uploadMipmappedImage(image, bytes);
            glDeleteTextures(1, &id);
        }
        glFinish();
        ownTimes.push_back(millisecondsSince(t));
        t = BenchClock::now();
        for (const Image& image : decoded) uploadWithGeneratedMipmaps(image);
        glFinish();
        generatedTimes.push_back(millisecondsSince(t));
    }
    results["startup.decoder_ms"] = median(decoderTimes);
    results["startup.upload_glu_ms"] = median(gluTimes);
    results["startup.upload_own_ms"] = median(ownTimes);
    results["startup.upload_generated_ms"] = median(generatedTimes);
    return results;
}

// ---------------------------------------------------------------------------
// One-row scroll

std::vector<int> currentPage(int list) {
    return readIntList(pageFile(list), 16).value_or(std::vector<int>(16, 0));
}

// The files a build of list 1 showing `page` will decode, by the rules of
// page building: the rotated tile's texture is given up when it has no other
// holder, the rotation's placeholder and every page thumbnail not in the
// registry are decoded, each once.
std::vector<std::string> predictDecodes(const std::vector<int>& page, int direction) {
    std::set<std::string> registered;
    for (const Texture* texture : textureRegistry) registered.insert(texture->name);
    std::vector<std::string> decodes;
    auto need = [&](const std::string& path) {
        if (registered.insert(path).second) decodes.push_back(path);
    };
    const std::string counterFile = stateFile(direction == backwardDirection ? StateFile::backwardRotation : StateFile::forwardRotation);
    const std::optional<int> counter = readInt(counterFile);
    if ((direction == 1 || direction == 2) && counter && *counter >= 1 && *counter <= 16) {
        const Texture* rotated = tileTextures[1][*counter];
        if (rotated && rotated->holders <= 1) registered.erase(rotated->name);
        need(placeholderPath(*counter));
    }
    for (int channel : page) need(thumbnailPath(1, channel));
    return decodes;
}

struct ScrollFigures {
    double buildMs = 0;
    double plainMs = 0;
    double ratio = 0;
    double decodes = 0;
    int mispredicted = 0;
};

// Scrolls list 1 forward `steps` times, timing each build (just buildPage,
// after rewriting the page file as a forward scroll does, or the whole Page
// Down key) against plain libjpeg decoding of the files that build decoded.
ScrollFigures measureScrolls(int steps, bool wholeKey) {
    std::vector<double> buildTimes, plainTimes, ratios;
    ScrollFigures figures;
    long totalDecodes = 0;
    for (int step = 0; step < steps; ++step) {
        std::vector<int> page = currentPage(1);
        if (page[0] >= 1989) break;
        for (int& channel : page) channel += 4;
        if (!wholeKey) {
            setFromTemplate(1, stateFile(StateFile::scrollDirection));
            writeText(pageFile(1), formatIntList(page));
        }
        const std::vector<std::string> expected = predictDecodes(page, 1);
        const long decodesBefore = decodeCount;
        double buildMs = 0, plainMs = 0;
        auto timeBuild = [&] {
            auto t = BenchClock::now();
            if (wholeKey)
                applySpecialKey(GLUT_KEY_PAGE_DOWN);
            else
                buildPage(1);
            glFinish();
            buildMs = millisecondsSince(t);
        };
        auto timePlain = [&] {
            auto t = BenchClock::now();
            for (const std::string& path : expected) decodePlain(path);
            plainMs = millisecondsSince(t);
        };
        if (step % 2) {
            timePlain();
            timeBuild();
        } else {
            timeBuild();
            timePlain();
        }
        if (decodeCount - decodesBefore != static_cast<long>(expected.size())) ++figures.mispredicted;
        totalDecodes += static_cast<long>(expected.size());
        buildTimes.push_back(buildMs);
        plainTimes.push_back(plainMs);
        if (plainMs > 0) ratios.push_back(buildMs / plainMs);
    }
    figures.buildMs = median(buildTimes);
    figures.plainMs = median(plainTimes);
    figures.ratio = median(ratios);
    figures.decodes = buildTimes.empty() ? 0 : static_cast<double>(totalDecodes) / buildTimes.size();
    return figures;
}

void storeScroll(Results& results, const std::string& name, const ScrollFigures& figures) {
    results[name + ".build_ms"] = figures.buildMs;
    results[name + ".plain_ms"] = figures.plainMs;
    results[name + ".ratio"] = figures.ratio;
    results[name + ".decodes"] = figures.decodes;
    results[name + ".mispredicted"] = figures.mispredicted;
}

// Scrolls list 1 back `steps` rows with Page Up, over pages a forward
// scroll has just shown, and sorts every file decoded on the way: the ones
// the rotation discarded on purpose (in this build, earlier on the way
// back, or before, so that they were no longer registered when the way back
// began), and the ones decoded again although they were still registered
// then: those the budget for unheld textures let go.
struct BackFigures {
    int steps = 0;
    long decodes = 0;
    long rotation = 0;
    long again = 0;
    double keyMs = 0;
};

BackFigures measureScrollBack(int steps) {
    BackFigures figures;
    std::vector<double> keyTimes;
    std::set<std::string> registeredAtStart, rotatedAway;
    for (const Texture* texture : textureRegistry) registeredAtStart.insert(texture->name);
    for (int step = 0; step < steps; ++step) {
        if (currentPage(1)[0] <= 1) break;
        const std::optional<int> counter = readInt(stateFile(StateFile::backwardRotation));
        if (counter && *counter >= 1 && *counter <= 16) {
            const Texture* rotated = tileTextures[1][*counter];
            if (rotated && rotated->holders <= 1) rotatedAway.insert(rotated->name);
            rotatedAway.insert(placeholderPath(*counter));
        }
        long newestBefore = 0;
        for (const Texture* texture : textureRegistry) newestBefore = std::max(newestBefore, texture->serial);
        const long decodesBefore = decodeCount;
        auto t = BenchClock::now();
        applySpecialKey(GLUT_KEY_PAGE_UP);
        glFinish();
        keyTimes.push_back(millisecondsSince(t));
        figures.decodes += decodeCount - decodesBefore;
        for (const Texture* texture : textureRegistry) {
            if (texture->serial <= newestBefore) continue;
            if (rotatedAway.count(texture->name) || !registeredAtStart.count(texture->name))
                ++figures.rotation;
            else
                ++figures.again;
        }
        ++figures.steps;
    }
    figures.keyMs = median(keyTimes);
    return figures;
}

void drawFrames(int count) {
    for (int frame = 0; frame < count; ++frame) {
        onDisplay();
        glFinish();
    }
}

Results benchScroll() {
    openBenchWindow();
    setUpMeasuredScene();
    drawFrames(20);  // the start-up refresh puts every thumbnail in place
    Results results;
    // The tile path files alone: the 16 paths of a page written and read
    // back, as every build does.
    std::vector<double> fileTimes;
    for (int run = 0; run < repetitions; ++run) {
        const std::vector<int> page = currentPage(1);
        auto t = BenchClock::now();
        for (int tile = 1; tile <= 16; ++tile) writeText(tilePathFile(1, tile), thumbnailPath(1, page[tile - 1]));
        size_t length = 0;
        for (int tile = 1; tile <= 16; ++tile) length += readPath(tilePathFile(1, tile), narrowScan).size();
        fileTimes.push_back(millisecondsSince(t) + (length == 0 ? 1 : 0));
    }
    results["scroll.tile_files_ms"] = median(fileTimes);
    storeScroll(results, "scroll.start", measureScrolls(scrollSteps, false));
    results["scroll.start.registered"] = static_cast<double>(textureRegistry.size());
    storeScroll(results, "scroll.key", measureScrolls(scrollSteps, true));

    // Back over the pages just shown: within the budget for unheld
    // textures, nothing is decoded but what the rotation discards.
    const BackFigures back = measureScrollBack(2 * scrollSteps);
    results["scroll.back.steps"] = back.steps;
    results["scroll.back.decodes"] = static_cast<double>(back.decodes);
    results["scroll.back.rotation"] = static_cast<double>(back.rotation);
    results["scroll.back.again"] = static_cast<double>(back.again);
    results["scroll.back.key_ms"] = back.keyMs;
    results["scroll.back.unheld_mib"] = static_cast<double>(unheldTextureBytes()) / (1 << 20);

    // Near the end of the catalogue every thumbnail seen on the way is still
    // registered, and every load searches them all.
    while (currentPage(1)[0] < 1989 - 4 * scrollSteps) applySpecialKey(GLUT_KEY_PAGE_DOWN);
    results["scroll.end.registered"] = static_cast<double>(textureRegistry.size());
    storeScroll(results, "scroll.end", measureScrolls(scrollSteps, false));

    // The registry search alone, at its size near the end.
    const std::string absent = thumbnailPath(1, 999999);
    auto t = BenchClock::now();
    const int lookups = 2000;
    int found = 0;
    for (int i = 0; i < lookups; ++i) found += findTexture(absent) != nullptr;
    results["scroll.end.lookup_us"] = millisecondsSince(t) * 1000 / lookups + found;
    return results;
}

// ---------------------------------------------------------------------------
// A frame

Results benchFrame() {
    openBenchWindow();
    setUpMeasuredScene();
    drawFrames(40);
    std::vector<double> wallFps, emptyFps;
    for (int block = 0; block < frameBlocks; ++block) {
        auto timeWall = [&] {
            auto t = BenchClock::now();
            drawFrames(framesPerBlock);
            wallFps.push_back(framesPerBlock * 1000.0 / millisecondsSince(t));
        };
        auto timeEmpty = [&] {
            auto t = BenchClock::now();
            for (int frame = 0; frame < framesPerBlock; ++frame) {
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                glutSwapBuffers();
                glFinish();
            }
            emptyFps.push_back(framesPerBlock * 1000.0 / millisecondsSince(t));
        };
        if (block % 2) {
            timeEmpty();
            timeWall();
        } else {
            timeWall();
            timeEmpty();
        }
    }
    std::vector<double> readTimes;
    const int readsPerRun = 2000;
    for (int run = 0; run < repetitions; ++run) {
        auto t = BenchClock::now();
        double sink = 0;
        for (int i = 0; i < readsPerRun; ++i)
            sink += readInt(stateFile(StateFile::selectedTile)).value_or(0) + readFloat(stateFile(StateFile::wallScale)).value_or(0);
        readTimes.push_back(millisecondsSince(t) * 1000 / readsPerRun + (sink < 0 ? 1 : 0));
    }
    Results results;
    results["frame.wall_fps"] = median(wallFps);
    results["frame.empty_fps"] = median(emptyFps);
    results["frame.state_reads_us"] = median(readTimes);
    return results;
}

// ---------------------------------------------------------------------------
// F12 batch copy

Results benchBatch(const std::string& logPath) {
    // The 2000 source files of the batch, in the working directory.
    std::error_code code;
    for (int k = 1; k <= 2000; ++k)
        fs::copy_file(thumbnailPath(1, k), std::to_string(k) + ".jpg",
                      fs::copy_options::overwrite_existing, code);
    fs::create_directory("cp-target", code);
    std::vector<std::string> cpArguments = {"--"};
    for (int k = 1; k <= 2000; ++k) cpArguments.push_back(std::to_string(k) + ".jpg");
    cpArguments.push_back("cp-target/");

    std::vector<double> batchTimes, cpTimes;
    int cpFailures = 0;
    for (int run = -1; run < repetitions; ++run) {  // run -1 warms both up
        auto timeBatch = [&] {
            auto t = BenchClock::now();
            applySpecialKey(GLUT_KEY_F12);
            if (run >= 0) batchTimes.push_back(millisecondsSince(t));
        };
        auto timeCp = [&] {
            auto t = BenchClock::now();
            cpFailures += runProgram("cp", cpArguments, logPath) != 0;
            if (run >= 0) cpTimes.push_back(millisecondsSince(t));
        };
        if (run % 2) {
            timeCp();
            timeBatch();
        } else {
            timeBatch();
            timeCp();
        }
    }
    Results results;
    results["batch.f12_ms"] = median(batchTimes);
    results["batch.cp_ms"] = median(cpTimes);
    results["batch.cp_failures"] = cpFailures;
    results["batch.copied"] = fs::file_size("2000.Quillon", code) == fs::file_size("2000.jpg", code) &&
                              readInt("n.txt") == 2000;
    return results;
}

// ---------------------------------------------------------------------------
// Memory

void noteMemory(Results& results, const std::string& stage) {
    results["memory." + stage + ".peak_kib"] = static_cast<double>(peakResidentKiB());
    results["memory." + stage + ".rss_kib"] = static_cast<double>(residentKiB());
    results["memory." + stage + ".registered"] = static_cast<double>(textureRegistry.size());
    const struct mallinfo2 heap = mallinfo2();
    results["memory." + stage + ".heap_kib"] = static_cast<double>(heap.uordblks + heap.hblkhd) / 1024;
}

// What the frame after a key does to memory: the wall binds, and so makes
// the graphics library lay out, every texture on it, and its thumbnail
// refresh decodes afresh. The wall is drawn into a small viewport after
// every key, and a whole frame after every 16th: drawing every frame at full
// size would only make the run long.
void afterKey(int keys) {
    drawWall();
    if (keys % 16 == 0) onDisplay();
}

Results benchMemory() {
    Results results;
    openBenchWindow();
    setUpMeasuredScene();
    drawFrames(20);
    noteMemory(results, "setup");
    results["memory.budget_mib"] = static_cast<double>(unheldTextureBudget) / (1 << 20);
    int width = 0, height = 0;
    getDesktopSize(width, height);
    glViewport(0, 0, width / 4, height / 4);

    // The whole catalogue, forward to the last page and back to the first.
    auto t = BenchClock::now();
    int keys = 0;
    while (currentPage(1)[0] < 1989 && keys < 1000) {
        applySpecialKey(GLUT_KEY_PAGE_DOWN);
        afterKey(++keys);
    }
    results["memory.last_page"] = currentPage(1)[0];
    while (currentPage(1)[0] > 1 && keys < 2000) {
        applySpecialKey(GLUT_KEY_PAGE_UP);
        afterKey(++keys);
    }
    glFinish();
    results["memory.scroll_keys"] = keys;
    results["memory.scroll_s"] = millisecondsSince(t) / 1000;
    // Then the wall rests, and the program gives the memory freed meanwhile
    // back to the system.
    results["memory.scrolled.busy_rss_kib"] = static_cast<double>(residentKiB());
    t = BenchClock::now();
    giveBackFreeMemory();
    results["memory.give_back_ms"] = millisecondsSince(t);
    noteMemory(results, "scrolled");

    // 1000 favourites added from the catalogue, then removed again.
    t = BenchClock::now();
    keys = 0;
    for (int added = 0; added < 1000; ++added) {
        if (currentList != 1) onKeyboard(8, 0, 0);  // Backspace: back to the catalogue
        onKeyboard('a', 0, 0);
        afterKey(++keys);
    }
    results["memory.favourites_added"] = readInt(stateFile(StateFile::favouritesCount)).value_or(-1);
    if (currentList != 2) onKeyboard(8, 0, 0);
    for (int removed = 0; removed < 1000; ++removed) {
        onKeyboard(127, 0, 0);  // Delete
        afterKey(++keys);
    }
    glFinish();
    results["memory.favourites_left"] = readInt(stateFile(StateFile::favouritesCount)).value_or(-1);
    results["memory.favourites_s"] = millisecondsSince(t) / 1000;
    giveBackFreeMemory();
    noteMemory(results, "favourites");
    return results;
}

// ---------------------------------------------------------------------------
// The table

struct Section {
    const char* name;
    const char* what;
};

const Section sections[] = {
    {"startup", "setupScene against plain libjpeg"},
    {"scroll", "one-row scrolls against plain libjpeg"},
    {"frame", "frames of the wall against empty frames"},
    {"batch", "F12 batch copy against cp"},
    {"memory", "a whole catalogue and 1000 favourites"},
};

std::string verdict(double ratio, double target) {
    if (ratio <= 0) return "n/a";
    return ratio <= target ? "ok" : "MISSED";
}

void printRow(const std::string& figure, const std::string& measured, const std::string& limit,
              double ratio, double target) {
    char ratioText[32] = "-";
    char targetText[32] = "-";
    if (ratio > 0) std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
    if (target > 0) std::snprintf(targetText, sizeof targetText, "<= %.1f", target);
    std::printf("%-46s %-16s %-40s %6s  %-7s %s\n", figure.c_str(), measured.c_str(), limit.c_str(),
                ratioText, targetText, target > 0 ? verdict(ratio, target).c_str() : "");
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

void printTable(std::map<std::string, double>& r) {
    std::printf("\n%-46s %-16s %-40s %6s  %-7s %s\n", "figure", "measured", "limit (same run, same files)",
                "ratio", "target", "");
    std::printf("%s\n", std::string(126, '-').c_str());
    if (r.count("startup.setup_ms")) {
        printRow("start-up: setupScene (33 images, 5 models)", format("%.2f ms", r["startup.setup_ms"]),
                 format("libjpeg, 33 files: %.2f ms", r["startup.plain_ms"]),
                 r["startup.setup_ms"] / r["startup.plain_ms"], 1.3);
        printRow(format("  first call in the process (%g decodes)", r["startup.decodes"]),
                 format("%.2f ms", r["startup.cold_ms"]), "", 0, 0);
        printRow("  of which the program's decoder, 33 files", format("%.2f ms", r["startup.decoder_ms"]),
                 "", r["startup.decoder_ms"] / r["startup.plain_ms"], 0);
        printRow("  of which 33 uploads, mipmaps built here", format("%.2f ms", r["startup.upload_own_ms"]),
                 format("gluBuild2DMipmaps: %.2f ms", r["startup.upload_glu_ms"]),
                 r["startup.upload_own_ms"] / r["startup.upload_glu_ms"], 0);
        printRow("  33 uploads, GL_GENERATE_MIPMAP instead", format("%.2f ms", r["startup.upload_generated_ms"]),
                 "", 0, 0);
    }
    if (r.count("scroll.start.build_ms")) {
        auto scrollRow = [&](const std::string& figure, const std::string& key) {
            printRow(figure, format("%.2f ms", r[key + ".build_ms"]),
                     format("libjpeg, %.1f files: ", r[key + ".decodes"]) +
                         format("%.2f ms", r[key + ".plain_ms"]),
                     r[key + ".ratio"], 1.3);
            if (r[key + ".mispredicted"] > 0)
                std::printf("  (%g builds decoded other files than expected)\n", r[key + ".mispredicted"]);
        };
        scrollRow("one-row scroll: buildPage, from page 1", "scroll.start");
        printRow("  of which 16 tile path files written, read", format("%.2f ms", r["scroll.tile_files_ms"]), "",
                 0, 0);
        scrollRow("  whole Page Down key, from page 161", "scroll.key");
        scrollRow(format("  buildPage near the end (%.0f registered)", r["scroll.end.registered"]),
                  "scroll.end");
        printRow("  one registry search at that size", format("%.1f us", r["scroll.end.lookup_us"]), "", 0, 0);
        printRow(format("back %.0f rows over pages just shown", r["scroll.back.steps"]),
                 format("%.0f decodes", r["scroll.back.decodes"]),
                 format("the rotation's: %.0f, ", r["scroll.back.rotation"]) +
                     format("unheld %.0f MiB", r["scroll.back.unheld_mib"]),
                 0, 0);
        std::printf("  thumbnails shown within the budget and decoded again: %.0f (target 0: %s); "
                    "Page Up key %.2f ms\n",
                    r["scroll.back.again"], r["scroll.back.again"] == 0 ? "ok" : "MISSED", r["scroll.back.key_ms"]);
    }
    if (r.count("frame.wall_fps")) {
        const double frameUs = 1e6 / r["frame.wall_fps"];
        printRow("frame: onDisplay with the wall", format("%.1f fps", r["frame.wall_fps"]),
                 format("empty frame: %.1f fps", r["frame.empty_fps"]),
                 r["frame.empty_fps"] / r["frame.wall_fps"], 0);
        printRow("  its two state-file reads (b.txt, u.txt)", format("%.1f us", r["frame.state_reads_us"]),
                 format("share of a frame: %.2f %%", 100 * r["frame.state_reads_us"] / frameUs), 0, 0);
    }
    if (r.count("batch.f12_ms")) {
        printRow("F12 batch copy, 2000 thumbnails", format("%.1f ms", r["batch.f12_ms"]),
                 format("cp of the 2000 files: %.1f ms", r["batch.cp_ms"]),
                 r["batch.f12_ms"] / r["batch.cp_ms"], 2.0);
        if (r["batch.copied"] != 1 || r["batch.cp_failures"] > 0)
            std::printf("  (the copies did not complete as expected)\n");
    }
    if (r.count("memory.scrolled.peak_kib")) {
        // A 256 x 128 thumbnail as the graphics library keeps it: four bytes a
        // texel and a third more for the mipmap chain.
        const double textureKiB = 256.0 * 128 * 4 * 4 / 3 / 1024;
        auto memoryRow = [&](const std::string& figure, const std::string& stage) {
            const double registered = r["memory." + stage + ".registered"];
            printRow(figure, format("%.0f MiB peak", r["memory." + stage + ".peak_kib"] / 1024),
                     format("%.0f textures (~", registered) +
                         format("%.0f MiB), ", registered * textureKiB / 1024) +
                         format("heap %.0f MiB", r["memory." + stage + ".heap_kib"] / 1024),
                     0, 0);
        };
        memoryRow("memory: after setupScene", "setup");
        memoryRow(format("  after pages 1 -> %.0f -> 1", r["memory.last_page"]), "scrolled");
        // Resident now, against start-up, the budget for unheld textures and
        // 32 MiB for everything else.
        const double limitMiB = r["memory.setup.rss_kib"] / 1024 + r["memory.budget_mib"] + 32;
        const double scrolledMiB = r["memory.scrolled.rss_kib"] / 1024;
        printRow("  resident after it, at rest", format("%.0f MiB", scrolledMiB),
                 format("start-up %.0f + budget ", r["memory.setup.rss_kib"] / 1024) +
                     format("%.0f + 32 = ", r["memory.budget_mib"]) + format("%.0f MiB", limitMiB),
                 scrolledMiB / limitMiB, 1.0);
        printRow("    before resting (freed memory not given back)",
                 format("%.0f MiB", r["memory.scrolled.busy_rss_kib"] / 1024),
                 format("giving it back: %.1f ms", r["memory.give_back_ms"]), 0, 0);
        memoryRow(format("  after 1000 favourites added, removed (%.0f left)", r["memory.favourites_left"]),
                  "favourites");
        std::printf("  (scrolling: %.0f keys in %.1f s; favourites: %.1f s; resident at rest %.0f MiB)\n",
                    r["memory.scroll_keys"], r["memory.scroll_s"], r["memory.favourites_s"],
                    r["memory.favourites.rss_kib"] / 1024);
    }
}

int runSection(const std::string& name, const std::string& folder, const std::string& resultsPath,
               const std::string& logPath) {
    if (chdir(folder.c_str()) != 0) return 2;
    Results results;
    if (name == "startup")
        results = benchStartup();
    else if (name == "scroll")
        results = benchScroll();
    else if (name == "frame")
        results = benchFrame();
    else if (name == "batch")
        results = benchBatch(logPath);
    else if (name == "memory")
        results = benchMemory();
    else
        return 2;
    writeResults(resultsPath, results);
    return 0;
}

void printUsage() {
    std::printf(
        "Usage: quillon-bench [--quick] [--keep] [--only <section>] [--make-data <tool>]\n"
        "Measures Quillon against plain libjpeg, empty frames and cp, and prints a table.\n"
        "Needs an X display (Xvfb). Sections: startup scroll frame batch memory.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string section, folder, resultsPath, logPath, only;
    std::string makeData = QUILLON_MAKE_DATA;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--section" && hasValue) section = argv[++i];
        else if (argument == "--folder" && hasValue) folder = argv[++i];
        else if (argument == "--results" && hasValue) resultsPath = argv[++i];
        else if (argument == "--log" && hasValue) logPath = argv[++i];
        else if (argument == "--only" && hasValue) only = argv[++i];
        else if (argument == "--make-data" && hasValue) makeData = argv[++i];
        else if (argument == "--keep") keep = true;
        else if (argument == "--quick") {
            repetitions = 3;
            scrollSteps = 12;
            frameBlocks = 2;
            framesPerBlock = 20;
        } else {
            printUsage();
            return argument == "--help" ? 0 : 2;
        }
    }
    if (!section.empty()) return runSection(section, folder, resultsPath, logPath);

    // A fresh sample root once, copied for every section.
    const fs::path base = fs::path(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path()) /
                          ("quillon-bench-" + std::to_string(getpid()));
    std::error_code code;
    fs::create_directories(base, code);
    const std::string log = (base / "bench.log").string();
    std::printf("Quillon benchmarks, working in %s\n", base.c_str());
    if (runProgram(makeData, {"--force", (base / "template").string()}, log) != 0) {
        std::printf("could not make the sample data root with %s\n", makeData.c_str());
        return 1;
    }

    const std::string self = fs::read_symlink("/proc/self/exe", code).string();
    std::map<std::string, double> all;
    int failures = 0;
    for (const Section& s : sections) {
        if (!only.empty() && only != s.name) continue;
        const fs::path work = base / s.name;
        fs::remove_all(work, code);
        fs::create_directories(work, code);
        fs::copy(base / "template" / "VESTRALUME", work / "VESTRALUME", fs::copy_options::recursive, code);
        const std::string results = (work / "results.txt").string();
        std::printf("  %-8s %s ...\n", s.name, s.what);
        std::fflush(stdout);
        auto t = BenchClock::now();
        std::vector<std::string> arguments = {"--section", s.name, "--folder", work.string(),
                                              "--results", results, "--log", log};
        if (repetitions != 11) arguments.push_back("--quick");
        const int status = runProgram(self, arguments, log);
        std::printf("           %.1f s%s\n", millisecondsSince(t) / 1000,
                    status == 0 ? "" : ", FAILED (see the log)");
        if (status != 0) ++failures;
        for (const auto& [name, value] : readResults(results)) all[name] = value;
        if (!keep) fs::remove_all(work, code);
    }
    printTable(all);
    if (failures > 0)
        std::printf("\n%d section(s) failed; their output is in %s\n", failures, log.c_str());
    else if (!keep)
        fs::remove_all(base, code);
    return failures == 0 ? 0 : 1;
}
