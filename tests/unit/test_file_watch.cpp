// Reports of replaced files: which watched files changed, the other files
// of their folders, folders that appear later, and reports lost.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/tile_watch.h"
#include "platform/file_watch.h"
#include "tests/support/scratch.h"

namespace {

// Replaced as every writer of the root does: a hidden temporary file beside
// it renamed over it.
void replaceFile(const std::string& path, const std::string& bytes) {
    const std::string::size_type slash = path.rfind('/');
    const std::string temporary = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".1.tmp";
    writeFile(temporary, bytes);
    ASSERT_EQ(std::rename(temporary.c_str(), path.c_str()), 0);
}

// What changedFiles names once the reports had time to arrive.
std::vector<std::string> changesAfter(FileWatch& watch, const std::function<void()>& change) {
    changedFiles(watch);
    change();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return changedFiles(watch);
}

using Names = std::vector<std::string>;

TEST(FileWatch, NamesEachChangedFileOnceAndOnlyThoseOfItsFolders) {
    ScratchRoot root;
    std::filesystem::create_directories("d1");
    std::filesystem::create_directories("d2");
    for (const char* file : {"d1/a.jpg", "d1/b.jpg", "d2/c.jpg", "elsewhere.jpg", "d1/x.jpg"}) writeFile(file, "1");
    FileWatch watch;
    watchFiles(watch, {"d1/a.jpg", "d1/b.jpg", "d2/c.jpg"});

    const struct {
        const char* what;
        std::function<void()> change;
        Names named;
    } cases[] = {
        {"nothing", [] {}, {}},
        {"renamed over", [] { replaceFile("d1/a.jpg", "2"); }, {"d1/a.jpg"}},
        {"written in place", [] { writeFile("d1/b.jpg", "2"); }, {"d1/b.jpg"}},
        {"written twice", [] { writeFile("d2/c.jpg", "2"); writeFile("d2/c.jpg", "3"); }, {"d2/c.jpg"}},
        {"two at once, in watched order", [] { replaceFile("d2/c.jpg", "4"); replaceFile("d1/a.jpg", "4"); },
         {"d1/a.jpg", "d2/c.jpg"}},
        {"removed", [] { std::remove("d1/b.jpg"); }, {"d1/b.jpg"}},
        {"another file of a watched folder", [] { replaceFile("d1/x.jpg", "2"); }, {"d1/x.jpg"}},
        {"a hidden temporary file", [] { writeFile("d1/.a.jpg.99.tmp", "2"); }, {}},
        {"a file elsewhere", [] { writeFile("elsewhere.jpg", "2"); }, {}},
        {"a file read", [] { readFile("d1/a.jpg"); }, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(changesAfter(watch, c.change), c.named) << c.what;
        EXPECT_FALSE(watch.reportsLost) << c.what;
    }

    // Watching another set keeps reporting the files still watched.
    watchFiles(watch, {"d2/c.jpg"});
    EXPECT_EQ(changesAfter(watch, [] { replaceFile("d2/c.jpg", "5"); }), Names{"d2/c.jpg"});

    // A folder that goes away: every watched file, reports lost, and the
    // watch set up again on the folder made anew.
    watchFiles(watch, {"d1/a.jpg", "d2/c.jpg"});
    EXPECT_EQ(changesAfter(watch, [] { std::filesystem::rename("d1", "gone"); }), (Names{"d1/a.jpg", "d2/c.jpg"}));
    EXPECT_TRUE(watch.reportsLost);
    endFileWatch(watch);
}

TEST(FileWatch, AFolderMadeLaterIsWatchedOnceItExists) {
    ScratchRoot root;
    FileWatch watch;
    watchFiles(watch, {"later/a.jpg"});
    EXPECT_TRUE(changedFiles(watch).empty());
    std::filesystem::create_directories("later");
    writeFile("later/a.jpg", "1");
    Names named;
    const auto start = std::chrono::steady_clock::now();
    while (named.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        named = changedFiles(watch);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(named, Names{"later/a.jpg"});
    EXPECT_EQ(changesAfter(watch, [] { replaceFile("later/a.jpg", "2"); }), Names{"later/a.jpg"});
    endFileWatch(watch);
}

TEST(TileWatch, WatchesTheWallsDataRootPathsOnceAndFindsTheTilesOfAChange) {
    std::string paths[17];
    for (int tile = 1; tile <= 16; ++tile) paths[tile] = "VESTRALUME/1/" + std::to_string(tile) + ".Quillon";
    paths[3] = "VESTRALUME/1/9.Quillon";  // one channel on two tiles
    paths[4] = "/etc/passwd";             // never a data-root path
    paths[5] = "VESTRALUME/../x.Quillon";
    paths[6] = "";
    const Names watched = watchedThumbnails(paths);
    EXPECT_EQ(watched.size(), 12u);
    for (const char* refused : {"/etc/passwd", "VESTRALUME/../x.Quillon", ""})
        EXPECT_EQ(std::count(watched.begin(), watched.end(), refused), 0) << refused;
    EXPECT_EQ(std::count(watched.begin(), watched.end(), "VESTRALUME/1/9.Quillon"), 1);

    EXPECT_EQ(tilesShowing(paths, {"VESTRALUME/1/9.Quillon"}), (std::vector<int>{3, 9}));
    EXPECT_EQ(tilesShowing(paths, {"VESTRALUME/1/16.Quillon", "VESTRALUME/1/1.Quillon"}), (std::vector<int>{1, 16}));
    EXPECT_TRUE(tilesShowing(paths, {"VESTRALUME/1/20.Quillon", ""}).empty());
}

}  // namespace
