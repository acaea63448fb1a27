// Importing a playlist as the catalogue of a real sample data root: link
// numbers that never change, favourites that keep opening what they opened,
// the page brought inside, nothing rewritten by a second import of the same
// playlist, refusal while another program holds the root, and failures that
// leave the old catalogue whole. The data checker judges every root after.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "dataroot/alternatives_file.h"
#include "import/import_report.h"
#include "cards/cards.h"
#include "cards/jpeg_writer.h"
#include "dataroot/data_root.h"
#include "import/import.h"
#include "import/import_cards.h"
#include "import/import_dedupe.h"
#include "dataroot/pending_cards.h"
#include "dataroot/name_index.h"
#include "import/import_limits.h"
#include "import/import_links.h"
#include "launch/launch.h"
#include "platform/folder_lock.h"
#include "state/root_locks.h"
#include "state/state_files.h"
#include "tests/support/scratch.h"
#include "tools/data_check.h"
#include "tools/make_data.h"

namespace {

namespace fs = std::filesystem;

const std::string textRoot = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME";

std::string memoryFolder(const std::string& name) {
    std::error_code code;
    const fs::path base = fs::is_directory("/dev/shm", code) && access("/dev/shm", W_OK) == 0
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string pattern = (base / (name + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

PlaylistEntry entry(const std::string& name, const std::string& address,
                    const std::string& logo = "") {
    PlaylistEntry made;
    made.name = name;
    made.address = address;
    made.logo = logo;
    return made;
}

// Every file under a folder with its bytes and modification time.
struct FileState {
    std::string bytes;
    long long modified;
    bool operator==(const FileState& other) const {
        return bytes == other.bytes && modified == other.modified;
    }
};
using Snapshot = std::map<std::string, FileState>;

Snapshot snapshot(const std::string& folder) {
    Snapshot files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        struct stat info;
        stat(item.path().c_str(), &info);
        files[item.path().lexically_relative(folder).string()] = {
            readFile(item.path().string()),
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
    }
    return files;
}

// Every test works on its own copy of the sample root the build makes as the
// installed template (<build>/template/VESTRALUME, never written).
class Import : public testing::Test {
protected:
    void SetUp() override {
        const std::string sample = QUILLON_SAMPLE_ROOT;
        ASSERT_TRUE(fs::is_directory(sample + "/VESTRALUME")) << sample;
        folder = memoryFolder("quillon-import-root");
        fs::copy(sample + "/VESTRALUME", folder + "/VESTRALUME", fs::copy_options::recursive);
        cache = folder + "/cache";
        options.cards.cacheFolder = cache;
        options.cards.network = false;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string at(const std::string& rootRelative) const { return folder + "/" + rootRelative; }
    std::string root() const { return folder + "/VESTRALUME"; }

    // Another copy of the sample root (in this test's folder) with `entries`
    // imported into it every card made first, from the same caches: the
    // cards a catalogue must end up with.
    std::string importedWaiting(const std::vector<PlaylistEntry>& entries) {
        const std::string other = folder + "/waiting";
        fs::create_directories(other);
        fs::copy(std::string(QUILLON_SAMPLE_ROOT) + "/VESTRALUME", other + "/VESTRALUME",
                 fs::copy_options::recursive);
        ImportOptions waiting = options;
        waiting.cardsLater = false;
        EXPECT_TRUE(importCatalogue(other, entries, waiting).switchedIn);
        return other;
    }

    ImportResult import(const std::vector<PlaylistEntry>& entries) {
        return importCatalogue(folder, entries, options);
    }

    // The address channel `channel` of `list` opens, the way the viewer finds it.
    std::string opens(int list, int channel) {
        const std::optional<int> link = readInt(at(linkPath(list, channel)));
        if (!link) return "(no link number)";
        loadUrlDirectory(at(urlDirectoryFile));
        const std::optional<DirectoryEntry> found = findDirectoryEntry(*link);
        return found ? found->address : "(link " + std::to_string(*link) + " has no entry)";
    }

    void expectSound() {
        EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>());
    }

    std::string folder, cache;
    ImportOptions options;
};

const std::vector<PlaylistEntry> playlistA = {
    entry("Alpha", "https://a.example/alpha.m3u8"),
    entry("Beta", "http://b.example/beta"),
    entry("Alpha again", "https://a.example/alpha.m3u8"),
    entry("Gamma \xCE\x93", "rtmp://c.example/live/gamma"),
};
const std::vector<PlaylistEntry> playlistB = {
    entry("Delta", "udp://@239.0.0.1:1234"),
    entry("Beta", "http://b.example/beta"),
    entry("Epsilon", "rtsp://e.example/s"),
};

TEST_F(Import, LinkNumbersAreForever) {
    const std::string delivered = readFile(at(urlDirectoryFile));
    ImportResult result = import(playlistA);
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_EQ(result.channels, 4u);
    EXPECT_EQ(result.newLinks, 3u);
    EXPECT_EQ(result.firstNewLink, 10000);
    EXPECT_EQ(result.lastNewLink, 10002);
    EXPECT_EQ(readFile(at(linkPath(1, 1))), "10000\nAlpha\n");
    EXPECT_EQ(readFile(at(linkPath(1, 2))), "10001\nBeta\n");
    EXPECT_EQ(readFile(at(linkPath(1, 3))), "10000\nAlpha again\n") << "the same address, the same number";
    EXPECT_EQ(readFile(at(linkPath(1, 4))), "10002\nGamma \xCE\x93\n");
    EXPECT_EQ(readFile(at(channelCountFile)), "4\n");
    const std::string afterA = readFile(at(urlDirectoryFile));
    EXPECT_EQ(afterA, delivered +
                          "10000\thttps://a.example/alpha.m3u8\tmedia\n"
                          "10001\thttp://b.example/beta\tmedia\n"
                          "10002\trtmp://c.example/live/gamma\tmedia\n");
    expectSound();

    result = import(playlistB);
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_EQ(result.newLinks, 2u);
    EXPECT_EQ(result.knownLinks, 1u);
    EXPECT_EQ(readFile(at(linkPath(1, 1))), "10003\nDelta\n");
    EXPECT_EQ(readFile(at(linkPath(1, 2))), "10001\nBeta\n") << "a known address keeps its number";
    EXPECT_EQ(readFile(at(linkPath(1, 3))), "10004\nEpsilon\n");
    const std::string afterB = readFile(at(urlDirectoryFile));
    EXPECT_EQ(afterB.compare(0, afterA.size(), afterA), 0) << "the directory only grows";
    EXPECT_FALSE(fs::exists(at(linkPath(1, 4)))) << "the catalogue has the playlist's size";
    expectSound();

    // Back to the first playlist: every address finds the number it had.
    result = import(playlistA);
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_EQ(result.newLinks, 0u);
    EXPECT_EQ(readFile(at(linkPath(1, 1))), "10000\nAlpha\n");
    EXPECT_EQ(readFile(at(linkPath(1, 4))), "10002\nGamma \xCE\x93\n");
    EXPECT_EQ(readFile(at(urlDirectoryFile)), afterB);

    // A delivered web page imported as a media address is another entry: the
    // delivered number keeps opening it as a web page.
    loadUrlDirectory(at(urlDirectoryFile));
    ASSERT_TRUE(findUrl(7));
    const std::string page = *findUrl(7);
    result = import({entry("Page as media", page)});
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_EQ(readFile(at(linkPath(1, 1))), "10005\nPage as media\n");
    loadUrlDirectory(at(urlDirectoryFile));
    EXPECT_EQ(findDirectoryEntry(7)->kind, webPage);
    EXPECT_EQ(findDirectoryEntry(10005)->kind, mediaAddress);
    expectSound();
}

TEST_F(Import, AFavouriteKeepsOpeningItsAddressAcrossImports) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    // Adding a favourite copies the selected channel's link file (and card).
    const std::string favourite = opens(1, 4);
    EXPECT_EQ(favourite, "rtmp://c.example/live/gamma");
    fs::copy_file(at(linkPath(1, 4)), at(linkPath(2, 1)), fs::copy_options::overwrite_existing);
    fs::copy_file(at(thumbnailPath(1, 4)), at(thumbnailPath(2, 1)), fs::copy_options::overwrite_existing);
    writeText(at(stateFile("d.txt")), "1");
    // A delivered channel added before any import.
    const std::string deliveredFavourite = opens(2, 2);

    ASSERT_TRUE(import(playlistB).switchedIn);
    EXPECT_EQ(opens(2, 1), favourite);
    EXPECT_EQ(opens(2, 2), deliveredFavourite);
    EXPECT_EQ(readFile(at(stateFile("d.txt"))), "1");
    expectSound();
}

TEST_F(Import, OnlyTheCatalogueAndItsPageChange) {
    // The last page of the delivered catalogue, selection and wall scale of a
    // root in use.
    std::vector<int> last(wallTiles);
    std::iota(last.begin(), last.end(), deliveredLastFirstChannel);
    writeText(at(pageFile(1)), formatIntList(last));
    writeText(at(stateFile("b.txt")), "7");
    writeText(at(stateFile("u.txt")), "1.85");
    Snapshot before = snapshot(root());

    std::vector<PlaylistEntry> thirty;
    for (int i = 1; i <= 30; ++i)
        thirty.push_back(entry("Channel " + std::to_string(i), "https://s.example/" + std::to_string(i)));
    ASSERT_TRUE(import(thirty).switchedIn);

    // The page moves to the last page of 30 channels: 21 to 36, its last
    // channel on a selectable row; tiles past channel 30 show placeholders.
    EXPECT_EQ(readIntList(at(pageFile(1)), wallTiles), std::optional<std::vector<int>>(
                                                          [] {
                                                              std::vector<int> page(wallTiles);
                                                              std::iota(page.begin(), page.end(), 21);
                                                              return page;
                                                          }()));
    for (int tile = 1; tile <= wallTiles; ++tile) {
        const int channel = 20 + tile;
        EXPECT_EQ(readFile(at(tilePathFile(1, tile))),
                  channel <= 30 ? thumbnailPath(1, channel) : placeholderPath(tile))
            << tile;
    }
    Snapshot after = snapshot(root());
    for (const auto& [path, state] : before) {
        const bool catalogue = path.compare(0, 2, "1/") == 0;
        const bool page = path == "n/z1.txt" ||
                          (path.compare(0, 3, "n/n") == 0 && path.find('b') == std::string::npos &&
                           path != "n/nn.txt");
        const bool directory = path == "links.tsv";
        if (!catalogue && !page && !directory) {
            EXPECT_TRUE(after.count(path) && after[path] == state) << path << " changed";
        }
    }
    expectSound();

    // A page inside the new catalogue stays as it is.
    std::vector<int> last20(wallTiles);
    std::iota(last20.begin(), last20.end(), lastFirstChannelFor(20));
    writeText(at(pageFile(1)), formatIntList(last20));
    ASSERT_TRUE(import({thirty.begin(), thirty.begin() + 20}).switchedIn);
    EXPECT_EQ(readFile(at(pageFile(1))), formatIntList(last20));
    EXPECT_EQ(readFile(at(tilePathFile(1, 12))), thumbnailPath(1, 20));
    EXPECT_EQ(readFile(at(tilePathFile(1, 13))), placeholderPath(13)) << "channel 21 of 20";
    expectSound();
}

TEST_F(Import, TheSamePlaylistTwiceChangesNoByte) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    const Snapshot first = snapshot(root());
    const ImportResult again = import(playlistA);
    ASSERT_TRUE(again.switchedIn) << again.error;
    EXPECT_TRUE(again.unchanged);
    EXPECT_TRUE(snapshot(root()) == first) << "a file of the root was written";
    // The same channels under other names are another catalogue.
    std::vector<PlaylistEntry> renamed = playlistA;
    renamed[1].name = "Beta HD";
    const ImportResult changed = import(renamed);
    ASSERT_TRUE(changed.switchedIn);
    EXPECT_FALSE(changed.unchanged);
    EXPECT_EQ(readFile(at(linkPath(1, 2))), "10001\nBeta HD\n");
}

TEST_F(Import, TheSamePlaylistAgainMakesNoCardUnlessTheCatalogueWasTouched) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    const Snapshot first = snapshot(root());
    // Without its cached cards the card maker would have to draw every card
    // again: an unchanged playlist must not need them.
    fs::remove_all(cache + "/cards");
    const ImportResult again = import(playlistA);
    ASSERT_TRUE(again.switchedIn) << again.error;
    EXPECT_TRUE(again.unchanged);
    EXPECT_EQ(again.cards.made, 0u);
    EXPECT_FALSE(fs::exists(cache + "/cards") && !fs::is_empty(cache + "/cards"))
        << "cards were drawn for an unchanged playlist";
    EXPECT_TRUE(snapshot(root()) == first) << "a file of the root was written";

    // A file of the catalogue changed in place since: the import does the
    // whole work and puts the catalogue right.
    {
        std::ofstream damaged(at(linkPath(1, 2)), std::ios::trunc);
        damaged << "10000\nAlpha\n";
    }
    const ImportResult repaired = import(playlistA);
    ASSERT_TRUE(repaired.switchedIn) << repaired.error;
    EXPECT_FALSE(repaired.unchanged);
    EXPECT_EQ(readFile(at(linkPath(1, 2))), "10001\nBeta\n");
    EXPECT_EQ(opens(1, 2), "http://b.example/beta");
    expectSound();
}

// The names are indexed beside the catalogue, transliterated, for find
// mode; a catalogue without its index (imported before there was one, or
// the index removed or damaged by hand) gets it from the same playlist
// again, and nothing else changes.
TEST_F(Import, TheNamesAreIndexedBesideTheCatalogue) {
    std::vector<PlaylistEntry> scripts = playlistA;
    scripts.push_back(entry("\xD0\x9F\xD0\xB5\xD1\x80\xD0\xB2\xD1\x8B\xD0\xB9 \xD0\xBA\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBB",
                            "https://p.example/1.m3u8"));  // Первый канал
    scripts.back().group = "News";
    ASSERT_TRUE(import(scripts).switchedIn);
    const std::optional<std::vector<NameEntry>> index = readNameIndex(folder, 5);
    ASSERT_TRUE(index);
    EXPECT_EQ(findMatches(*index, "pervyy"), std::vector<int>{4});
    EXPECT_EQ(findMatches(*index, "news"), std::vector<int>{4});
    EXPECT_EQ(findMatches(*index, "gamma g"), std::vector<int>{3});
    expectSound();

    const std::string made = readFile(at(nameIndexFile));
    const struct {
        const char* what;
        bool remove;
        const char* text;
    } damages[] = {{"removed", true, ""}, {"emptied", false, ""}, {"damaged", false, "quillon-names 1 5\nx"}};
    for (const auto& damage : damages) {
        if (damage.remove)
            fs::remove(at(nameIndexFile));
        else
            std::ofstream(at(nameIndexFile), std::ios::trunc) << damage.text;
        if (!damage.remove) {
            EXPECT_FALSE(checkDataRoot(folder).empty()) << damage.what;
        }
        const Snapshot before = snapshot(root());
        const ImportResult again = import(scripts);
        ASSERT_TRUE(again.switchedIn) << again.error;
        EXPECT_EQ(readFile(at(nameIndexFile)), made) << damage.what;
        Snapshot after = snapshot(root());
        for (const auto& file : before) {
            if (file.first != "1/names.idx" && file.first.rfind("1/", 0) == 0) {
                EXPECT_EQ(after[file.first].bytes, file.second.bytes) << damage.what << ": " << file.first;
            }
        }
        expectSound();
    }
}

// Writers of a root never meet: a viewer holds the root's own lock, an
// import the import lock, an upgrade both. An import runs beside a viewer
// and is refused beside another import or an upgrade, changing nothing.
TEST_F(Import, RunsBesideAViewerAndNeverBesideAnotherWriter) {
    struct Holder {
        const char* what;
        bool rootLock, importLock;
        bool importRuns;
    };
    const Holder holders[] = {
        {"a viewer", true, false, true},
        {"another import", false, true, false},
        {"an upgrade", true, true, false},
    };
    for (const Holder& holder : holders) {
        SCOPED_TRACE(holder.what);
        unlockImports(folder);  // a child must not inherit this process's lock
        int ready[2], release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t other = fork();
        ASSERT_GE(other, 0);
        if (other == 0) {
            const bool held = (!holder.rootLock || lockFolder(root()) == folderLocked) &&
                              (!holder.importLock || lockImports(folder) == folderLocked);
            const char answer = held ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);
            _exit(0);
        }
        char held = 0;
        ASSERT_EQ(read(ready[0], &held, 1), 1);
        ASSERT_EQ(held, 'y');
        const Snapshot before = snapshot(root());
        const ImportResult result = import(holder.importRuns ? playlistB : playlistA);
        if (holder.importRuns) {
            EXPECT_TRUE(result.switchedIn) << result.error;
            EXPECT_EQ(readChannelCount(folder), static_cast<int>(playlistB.size()));
        } else {
            EXPECT_FALSE(result.switchedIn);
            EXPECT_NE(result.error.find("is in use by another import into it or by an upgrade"),
                      std::string::npos)
                << result.error;
            EXPECT_TRUE(snapshot(root()) == before);
        }
        (void)!write(release[1], "x", 1);
        int status = 0;
        waitpid(other, &status, 0);
        for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
        unlockImports(folder);
        const ImportResult after = import(playlistA);
        EXPECT_TRUE(after.switchedIn) << after.error;
        unlockImports(folder);
        expectSound();
    }
}

// Runs an import in a child process whose files may grow to `maxFileBytes`
// at most, the way a full disk stops writes; returns whether it switched in.
bool importWithFileLimit(const std::string& folder, const std::vector<PlaylistEntry>& entries,
                         const ImportOptions& options, rlim_t maxFileBytes) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{maxFileBytes, maxFileBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        const ImportResult result = importCatalogue(folder, entries, options);
        _exit(result.switchedIn ? 0 : result.error.empty() ? 2 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(Import, FailuresLeaveTheOldCatalogueWhole) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    const Snapshot before = snapshot(root());

    const ImportResult nothing = import({});
    EXPECT_FALSE(nothing.switchedIn);
    EXPECT_NE(nothing.error.find("no channels"), std::string::npos) << nothing.error;
    EXPECT_TRUE(snapshot(root()) == before);

    // Disk full while the cards are written, and while the grown URL
    // directory is written.
    for (rlim_t limit : {rlim_t(300), rlim_t(40000)}) {
        SCOPED_TRACE(limit);
        std::vector<PlaylistEntry> many;
        for (int i = 0; i < 50; ++i)
            many.push_back(entry("Full " + std::to_string(i), "https://full.example/" + std::to_string(i)));
        EXPECT_FALSE(importWithFileLimit(folder, many, options, limit));
        EXPECT_TRUE(snapshot(root()) == before) << "the failed import changed the root";
    }
    expectSound();
}

TEST_F(Import, WhatAKilledImportLeftIsCleanedUp) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    // A half made new catalogue and a stale temporary directory file.
    fs::create_directory(root() + "/.1.new");
    writeFile(root() + "/.1.new/1.txt", "junk");
    writeFile(root() + "/.links.tsv.12345.tmp", "1\thttps://x.example/\n");
    writeFile(root() + "/n/.z1.txt.12345.tmp", "1");
    expectSound();
    ASSERT_TRUE(import(playlistB).switchedIn);
    EXPECT_FALSE(fs::exists(root() + "/.1.new"));
    EXPECT_FALSE(fs::exists(root() + "/.links.tsv.12345.tmp"));
    EXPECT_FALSE(fs::exists(root() + "/n/.z1.txt.12345.tmp"));

    // Killed between moving the old catalogue aside and moving the new one
    // in, where a system cannot exchange folders: the old one comes back.
    fs::rename(root() + "/1", root() + "/.1.old");
    const std::vector<PlaylistEntry> empty;
    EXPECT_FALSE(import(empty).switchedIn);
    EXPECT_EQ(readFile(at(linkPath(1, 1))), "10003\nDelta\n");
    EXPECT_FALSE(fs::exists(root() + "/.1.old"));
    expectSound();
}

TEST_F(Import, RefreshingTheSampleRootKeepsAnImportedCatalogue) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    const std::string directory = readFile(at(urlDirectoryFile));
    const Snapshot catalogue = snapshot(root() + "/1");
    std::string error;
    ASSERT_TRUE(makeDataRoot(folder, textRoot, makeUpdate, error)) << error;
    EXPECT_EQ(readFile(at(urlDirectoryFile)), directory);
    EXPECT_TRUE(snapshot(root() + "/1") == catalogue);
    expectSound();
}

// Turns line `link` of a directory text into a media entry.
std::string markAsMedia(std::string text, int link) {
    const size_t line = text.find("\n" + std::to_string(link) + "\t") + 1;
    text.insert(text.find('\n', line), "\tmedia");
    return text;
}

TEST_F(Import, CheckerKnowsImportedCatalogues) {
    ASSERT_TRUE(import(playlistA).switchedIn);
    struct Damage {
        const char* what;
        std::string file;
        std::function<std::string(const std::string&)> change;  // empty: the file is removed
        const char* expected;
    };
    auto replaceWith = [](const char* text) { return [text](const std::string&) { return std::string(text); }; };
    auto append = [](const char* lines) { return [lines](const std::string& text) { return text + lines; }; };
    const Damage damages[] = {
        {"count record broken", channelCountFile, replaceWith("four"), "count.txt does not hold a channel count"},
        {"a count far beyond the files", channelCountFile, replaceWith("300000\n"),
         "no thumbnail for channel numbers 5 to 300000"},
        {"card within the count missing", thumbnailPath(1, 4), {}, "no thumbnail for channel numbers 4,"},
        {"link number the directory lacks", linkPath(1, 2), replaceWith("1400\nBeta\n"),
         "channel numbers 2 hold no link number"},
        {"name line not UTF-8", linkPath(1, 2), replaceWith("10001\nB\xFFta\n"), "name line that is not one line"},
        {"media entry among the delivered numbers", urlDirectoryFile,
         [](const std::string& text) { return markAsMedia(text, 7); }, "is a media address, but 1 to 1290"},
        {"an imported address under two numbers", urlDirectoryFile,
         append("10003\thttps://a.example/alpha.m3u8\tmedia\n"), "share the media address"},
        {"a media address the program refuses", urlDirectoryFile, append("10003\tfile:///etc/passwd\tmedia\n"),
         "not a media address the program opens"},
        {"a web page among the imported numbers", urlDirectoryFile, append("10003\thttps://w.example/\n"),
         "link number 10003 is a web page, but numbers from 10000 on are media addresses"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        const std::string file = at(damage.file);
        const std::string saved = readFile(file);
        if (damage.change)
            writeFile(file, damage.change(saved));
        else
            fs::remove(file);
        const std::vector<std::string> problems = checkDataRoot(folder);
        bool found = false;
        for (const std::string& problem : problems)
            found = found || problem.find(damage.expected) != std::string::npos;
        EXPECT_TRUE(found) << testing::PrintToString(problems);
        writeFile(file, saved);
    }
    expectSound();
    // Channels past the count need no card and no link file.
    EXPECT_FALSE(fs::exists(at(thumbnailPath(1, 5))));
}

// ---- A catalogue switched in before its cards --------------------------

TEST(CardList, ReadsOnlyWholeListsAndLines) {
    const std::vector<std::string> logos = {"http://l.example/a.png", "", "file:///tmp/c.svg"};
    const std::string text = formatCardList(logos);
    std::vector<std::string> read;
    ASSERT_TRUE(parseCardList(text, read));
    EXPECT_EQ(read, logos);
    struct Case {
        const char* what;
        std::string text;
    };
    const Case broken[] = {
        {"cut short within a line", text.substr(0, text.size() - 3)},
        {"a line missing", text.substr(0, text.rfind('\n', text.size() - 2) + 1)},
        {"a line too many", text + "extra\n"},
        {"another heading", "quillon cards 2 3\n\n\n\n"},
        {"no count", "quillon cards 1 \n"},
        {"empty", ""},
    };
    for (const Case& c : broken) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(parseCardList(c.text, read));
    }
    // An address with a line end would shift every later channel's logo.
    ASSERT_TRUE(parseCardList(formatCardList({"a\nb", "c"}), read));
    EXPECT_EQ(read, (std::vector<std::string>{"", "c"}));

    // The made log: whole lines of channel numbers inside the catalogue.
    const std::vector<bool> made = parseMadeLog("1\n3\n3\n9\nx\n-2\n0\n2", 4);
    EXPECT_EQ(made, (std::vector<bool>{true, false, true, false}));
}

TEST(CardOrder, ThePageOnTheWallFirstThenItsNeighboursThenTheEndsThenTheRest) {
    auto range = [](int from, int to) {
        std::vector<int> numbers;
        for (int n = from; n <= to; ++n) numbers.push_back(n);
        return numbers;
    };
    auto joined = [](std::initializer_list<std::vector<int>> parts) {
        std::vector<int> all;
        for (const std::vector<int>& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    std::vector<bool> none(200, false);
    std::vector<bool> some = none;
    for (int n = 101; n <= 108; ++n) some[n - 1] = true;  // made already
    struct Case {
        const char* what;
        const std::vector<bool>& made;
        int pageFirst;
        size_t most;
        std::vector<int> expected;
    };
    const Case cases[] = {
        // 200 channels: the last page starts at 189.
        {"at the start", none, 1, 40, joined({range(1, 32), range(189, 196)})},
        {"in the middle", none, 101, 200,
         joined({range(101, 132), range(85, 100), range(1, 16), range(189, 200), range(17, 84),
                 range(133, 188)})},
        {"made cards are left out", some, 101, 12, range(109, 120)},
        {"a page past the end", none, 197, 6, joined({range(197, 200), range(181, 182)})},
        {"nothing left", std::vector<bool>(20, true), 1, 16, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(nextCardsToMake(c.made, c.pageFirst, c.most), c.expected);
    }
}

std::vector<PlaylistEntry> numberedPlaylist(const std::string& prefix, int count) {
    std::vector<PlaylistEntry> entries;
    for (int i = 1; i <= count; ++i)
        entries.push_back(entry(prefix + " " + std::to_string(i),
                                "https://" + prefix + ".example/" + std::to_string(i)));
    return entries;
}

TEST_F(Import, CardsLaterSwitchesInAtOnceAndTheMakerCompletesTheSameCatalogue) {
    const std::vector<PlaylistEntry> playlist = numberedPlaylist("later", 70);
    // The same playlist with every card made first, in a second root.
    const std::string waiting = importedWaiting(playlist);

    writeFile(at(pageFile(1)), formatIntList({41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56}));
    options.cardsLater = true;
    const ImportResult later = import(playlist);
    ASSERT_TRUE(later.switchedIn) << later.error;
    // The channels are in place, the page's cards made, the rest pending.
    EXPECT_EQ(readFile(at(channelCountFile)), "70\n");
    EXPECT_EQ(readFile(at(linkPath(1, 70))), readFile(waiting + "/" + linkPath(1, 70)));
    EXPECT_EQ(later.pendingCards, 70u - 16u);
    for (int channel = 1; channel <= 70; ++channel)
        EXPECT_EQ(fs::exists(at(thumbnailPath(1, channel))), channel >= 41 && channel <= 56) << channel;
    EXPECT_EQ(readPendingCards(root() + "/1").pending, 54u);
    expectSound();  // cards being made are no fault
    EXPECT_EQ(pendingCardCount(folder), 54u);

    PendingCardOptions making;
    making.cards = options.cards;
    std::vector<size_t> done;
    making.progress = [&](const CardProgress& cards) { done.push_back(cards.done); };
    const PendingCardResult made = makePendingCards(folder, making);
    EXPECT_TRUE(made.complete) << made.error;
    EXPECT_EQ(made.cards.done, 54u);
    EXPECT_GT(done.size(), 1u) << "made in one batch, not following the wall";
    EXPECT_FALSE(fs::exists(root() + "/1/" + pendingCardListName));
    EXPECT_FALSE(fs::exists(root() + "/1/" + madeCardLogName));
    EXPECT_EQ(pendingCardCount(folder), 0u);
    for (int channel = 1; channel <= 70; ++channel)
        EXPECT_EQ(readFile(at(thumbnailPath(1, channel))), readFile(waiting + "/" + thumbnailPath(1, channel)))
            << "card " << channel;
    expectSound();

    // The maker kept the import record: the same playlist again is known at
    // once, with no card made and nothing written.
    const Snapshot complete = snapshot(root());
    fs::remove_all(cache + "/cards");
    const ImportResult again = import(playlist);
    EXPECT_TRUE(again.unchanged);
    EXPECT_EQ(again.pendingCards, 0u);
    EXPECT_TRUE(snapshot(root()) == complete);
    EXPECT_FALSE(makePendingCards(folder, making).cards.done > 0);
}

TEST_F(Import, CardsLaterWhatWasLeftIsMadeOnTheNextRunAndTheSameChannelsAreNotSwitchedAgain) {
    const std::vector<PlaylistEntry> playlist = numberedPlaylist("resumed", 40);
    options.cardsLater = true;
    ASSERT_TRUE(import(playlist).switchedIn);
    // A maker killed after a few cards: a card written but not logged, a
    // log line cut short, a temporary file of a card.
    writeFile(at(thumbnailPath(1, 30)), readFile(at(thumbnailPath(1, 1))));
    writeFile(root() + "/1/" + madeCardLogName, readFile(root() + "/1/" + madeCardLogName) + "3");
    writeFile(root() + "/1/31.Quillon.tmp-99999-0", "half");
    expectSound();
    struct stat folderBefore;
    ASSERT_EQ(stat((root() + "/1").c_str(), &folderBefore), 0);

    // The same playlist while cards are pending: the catalogue stays.
    const ImportResult again = import(playlist);
    ASSERT_TRUE(again.switchedIn);
    EXPECT_TRUE(again.unchanged);
    EXPECT_EQ(again.pendingCards, 24u);
    struct stat folderAfter;
    ASSERT_EQ(stat((root() + "/1").c_str(), &folderAfter), 0);
    EXPECT_EQ(folderAfter.st_ino, folderBefore.st_ino) << "switched in again";

    PendingCardOptions making;
    making.cards = options.cards;
    ASSERT_TRUE(makePendingCards(folder, making).complete);
    EXPECT_FALSE(fs::exists(root() + "/1/31.Quillon.tmp-99999-0"));
    const std::string waiting = importedWaiting(playlist);
    for (int channel : {1, 3, 17, 30, 31, 40})
        EXPECT_EQ(readFile(at(thumbnailPath(1, channel))), readFile(waiting + "/" + thumbnailPath(1, channel)))
            << "card " << channel;
    expectSound();
}

TEST_F(Import, CardsLaterAMakerStopsWhenANewerImportReplacesItsCatalogue) {
    options.cardsLater = true;
    ASSERT_TRUE(import(numberedPlaylist("old", 200)).switchedIn);
    PendingCardOptions making;
    making.cards = options.cards;
    int batches = 0;
    making.progress = [&](const CardProgress&) {
        // Another import switches its catalogue in while this maker works.
        if (++batches == 1) {
            ASSERT_TRUE(import(numberedPlaylist("new", 100)).switchedIn);
        }
    };
    const PendingCardResult stopped = makePendingCards(folder, making);
    EXPECT_TRUE(stopped.replaced);
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(batches, 1);
    // Nothing of the old catalogue reached the new one.
    EXPECT_EQ(readFile(at(channelCountFile)), "100\n");
    EXPECT_EQ(readPendingCards(root() + "/1").pending, 100u - 16u);
    for (int channel = 17; channel <= 100; ++channel)
        EXPECT_FALSE(fs::exists(at(thumbnailPath(1, channel)))) << channel;
    expectSound();
    making.progress = nullptr;
    EXPECT_TRUE(makePendingCards(folder, making).complete);
    // The replaced catalogue was moved aside by the import and is gone now.
    for (const auto& item : fs::directory_iterator(root()))
        EXPECT_EQ(item.path().filename().string().find(".1.gone"), std::string::npos);
    expectSound();
}

TEST_F(Import, CheckerKnowsCardsBeingMade) {
    options.cardsLater = true;
    ASSERT_TRUE(import(numberedPlaylist("check", 30)).switchedIn);
    const std::string list = root() + "/1/" + pendingCardListName;
    const std::string log = root() + "/1/" + madeCardLogName;
    const std::string savedList = readFile(list), savedLog = readFile(log);
    struct Damage {
        const char* what;
        std::string file;
        std::string text;  // empty: removed
        const char* expected;
    };
    const Damage damages[] = {
        {"a list for another count", list, formatCardList(std::vector<std::string>(31)),
         "is for 31 channels, but"},
        {"a list cut short", list, savedList.substr(0, savedList.size() / 2), "not a whole list of cards"},
        {"a card logged as made is missing", log, savedLog + "20\n", "no thumbnail for channel numbers 20"},
        {"no list: every card is due", list, "", "no thumbnail for channel numbers 17 to 30"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        if (damage.text.empty())
            fs::remove(damage.file);
        else
            writeFile(damage.file, damage.text);
        const std::vector<std::string> problems = checkDataRoot(folder);
        bool found = false;
        for (const std::string& problem : problems)
            found = found || problem.find(damage.expected) != std::string::npos;
        EXPECT_TRUE(found) << testing::PrintToString(problems);
        writeFile(list, savedList);
        writeFile(log, savedLog);
    }
    expectSound();
}

// The card cache is a folder anything running as the user may change. Each
// kind of damaged entry, put in place of a card the catalogue uses after
// its import: the next import makes the card again and says so, the entry
// is sound again, and no byte of the picture outside reaches the
// catalogue; with the cards made later, the card maker does the same. An
// entry of an older cache, without its digest, is made again quietly.
TEST_F(Import, DamagedCardCacheEntriesAreMadeAgainAndReported) {
    const std::vector<PlaylistEntry> playlist = {entry("Alpha", "https://a.example/alpha.m3u8"),
                                                 entry("Beta", "http://b.example/beta")};
    // A picture from outside the cache: the size of a card, another colour.
    const std::vector<unsigned char> green(static_cast<size_t>(cardWidth) * cardHeight * 3, 0);
    std::vector<unsigned char> pixels = green;
    for (size_t i = 1; i < pixels.size(); i += 3) pixels[i] = 200;
    const std::vector<unsigned char> jpeg = encodeJpeg(cardWidth, cardHeight, 3, pixels, 90);
    const std::string outside(jpeg.begin(), jpeg.end());
    const std::string outsidePath = folder + "/outside.jpg";
    writeFile(outsidePath, outside);

    ASSERT_TRUE(import(playlist).switchedIn);
    const std::string card = readFile(at(thumbnailPath(1, 1)));
    ASSERT_GT(card.size(), 1000u);
    // The cache entry of channel 1's card: the one holding its bytes.
    std::string entryPath;
    for (const auto& item : fs::directory_iterator(cache + "/cards"))
        if (item.path().extension() == ".jpg" && readFile(item.path().string()) == card)
            entryPath = item.path().string();
    ASSERT_FALSE(entryPath.empty());
    const std::string digestPath = entryPath.substr(0, entryPath.size() - 4) + ".sum";
    ASSERT_TRUE(fs::is_regular_file(digestPath));

    struct Damage {
        const char* kind;
        std::function<void()> make;
        bool reported;
    };
    const std::vector<Damage> damages = {
        {"cut JPEG", [&] { writeFile(entryPath, card.substr(0, card.size() / 2)); }, true},
        {"garbage after FF D8", [&] { writeFile(entryPath, "\xff\xd8" + std::string(5000, 'x') + "\xff\xd9"); }, true},
        {"another picture", [&] { writeFile(entryPath, outside); }, true},
        {"link to an outside JPEG",
         [&] {
             fs::remove(entryPath);
             fs::create_symlink(outsidePath, entryPath);
         },
         true},
        {"FIFO",
         [&] {
             fs::remove(entryPath);
             ASSERT_EQ(mkfifo(entryPath.c_str(), 0644), 0);
         },
         true},
        {"digest file a link", [&] {
             fs::remove(digestPath);
             fs::create_symlink(outsidePath, digestPath);
         },
         true},
        // An older cache kept no digests, and records that trusted its
        // cards: neither is there.
        {"older cache, no digest",
         [&] {
             fs::remove(digestPath);
             fs::remove_all(cache + "/imports");
         },
         false},
    };
    for (const bool later : {false, true}) {
        for (const Damage& damage : damages) {
            SCOPED_TRACE(std::string(damage.kind) + (later ? ", cards made later" : ""));
            // File change times move on with the kernel's clock tick (up to
            // 10 ms): the damage comes a tick after the import record.
            usleep(20000);
            damage.make();
            options.cardsLater = later;
            const ImportResult again = import(playlist);
            ASSERT_TRUE(again.switchedIn) << again.error;
            size_t damaged = again.cards.damaged;
            std::vector<std::string> said = importSummary(again, "list.m3u", root());
            if (later) {
                PendingCardOptions making;
                making.cards = options.cards;
                const PendingCardResult made = makePendingCards(folder, making);
                EXPECT_TRUE(made.complete) << made.error;
                damaged += made.cards.damaged;
            } else {
                EXPECT_EQ(again.unchanged, !damage.reported);
                const bool saidSo = std::any_of(said.begin(), said.end(), [](const std::string& line) {
                    return line.find("Card cache: 1 damaged entry") != std::string::npos;
                });
                EXPECT_EQ(saidSo, damage.reported);
                if (damage.reported) {
                    ASSERT_FALSE(again.warnings.empty());
                    EXPECT_NE(again.warnings[0].find(entryPath), std::string::npos) << again.warnings[0];
                }
            }
            EXPECT_EQ(damaged, damage.reported ? 1u : 0u);
            EXPECT_EQ(readFile(at(thumbnailPath(1, 1))), card);
            for (const auto& item : fs::recursive_directory_iterator(root())) {
                if (item.is_regular_file()) {
                    EXPECT_NE(readFile(item.path().string()), outside) << item.path();
                }
            }
            // The entry is a sound card with its digest again.
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entryPath)));
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(digestPath)));
            EXPECT_EQ(readFile(entryPath), card);
            EXPECT_EQ(readFile(outsidePath), outside) << "the file outside was written";
            // And the same playlist once more is unchanged, nothing reported.
            const ImportResult once = import(playlist);
            EXPECT_TRUE(once.unchanged);
            EXPECT_EQ(once.cards.damaged, 0u);
        }
    }
    expectSound();
}


// Every root file the importer reads, as whatever a hostile or unlucky root
// holds there: a FIFO without a writer, a link to /dev/zero, a link to a file
// outside the root, a huge file. Each import ends in time and in bounded
// memory; nothing outside is read into the root or written. A directory that
// cannot be read refuses the import with the catalogue unchanged; a state
// file that cannot be read counts as missing and is replaced, not written
// through.
TEST(ImportHostileRoot, EveryRootFileReadEndsInTimeAndStaysInsideTheRoot) {
    struct Kind {
        const char* name;
        void (*make)(const std::string& path, const std::string& outside);
    };
    const Kind kinds[] = {
        {"a FIFO", [](const std::string& p, const std::string&) { mkfifo(p.c_str(), 0600); }},
        {"a link to /dev/zero", [](const std::string& p, const std::string&) { fs::create_symlink("/dev/zero", p); }},
        {"a link outside", [](const std::string& p, const std::string& o) { fs::create_symlink(o + "/secret", p); }},
        {"a huge file",
         [](const std::string& p, const std::string&) {
             writeFile(p, "");
             fs::resize_file(p, 200u << 20);
         }},
    };
    struct File {
        const char* relative;
        bool refuses;  // an import cannot go on without reading it
    };
    const File files[] = {{"links.tsv", true}, {"n/z1.txt", false}, {"n/n1.txt", false}, {"1/count.txt", false}};
    const std::string folder = memoryFolder("quillon-import-hostile");
    const std::string outside = folder + "/outside";
    const std::string secret = "10000\thttps://secret.example/outside\tmedia\n";
    for (const File& file : files) {
        for (const Kind& kind : kinds) {
            const std::string what = std::string(file.relative) + " as " + kind.name;
            std::error_code code;
            fs::remove_all(folder + "/VESTRALUME", code);
            fs::remove_all(outside, code);
            fs::create_directories(outside);
            writeFile(outside + "/secret", secret);
            for (const char* sub : {"/VESTRALUME/n", "/VESTRALUME/1", "/VESTRALUME/2"})
                fs::create_directories(folder + sub);
            writeFile(folder + "/VESTRALUME/links.tsv", "1\thttps://one.example/\n");
            writeFile(folder + "/VESTRALUME/1/1.txt", "1\nOld\n");
            writeFile(folder + "/VESTRALUME/1/count.txt", "1\n");
            writeFile(folder + "/VESTRALUME/n/z1.txt", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
            const std::string target = folder + "/VESTRALUME/" + file.relative;
            fs::remove(target, code);
            kind.make(target, outside);

            const int status = runWithin(60, [&] {
                ImportOptions options;
                options.cards.cacheFolder = folder + "/cache";
                options.cards.network = false;
                const ImportResult result = importCatalogue(
                    folder, {entry("New one", "https://new.example/1.m3u8")}, options);
                return result.switchedIn ? 1 : result.error.empty() ? 3 : 2;
            });
            EXPECT_EQ(status, file.refuses ? 2 : 1) << what;
            EXPECT_EQ(readFile(outside + "/secret"), secret) << what;
            EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1) << what;
            for (const auto& item : fs::recursive_directory_iterator(folder + "/VESTRALUME")) {
                if (!fs::is_regular_file(fs::symlink_status(item.path())) || fs::file_size(item.path()) > (1u << 20))
                    continue;
                EXPECT_EQ(readFile(item.path().string()).find("secret.example"), std::string::npos)
                    << what << ": " << item.path();
            }
            EXPECT_EQ(readFile(folder + "/VESTRALUME/1/1.txt"), file.refuses ? "1\nOld\n" : "10000\nNew one\n")
                << what;
        }
    }
    // The folders the importer writes into, as links to a folder outside:
    // the import is refused, and nothing outside changes.
    for (const char* sub : {"n", "1"}) {
        std::error_code code;
        fs::remove_all(folder + "/VESTRALUME", code);
        fs::remove_all(outside, code);
        fs::create_directories(outside);
        writeFile(outside + "/z1.txt", "mine");
        for (const char* made : {"/VESTRALUME/n", "/VESTRALUME/1", "/VESTRALUME/2"})
            fs::create_directories(folder + made);
        fs::remove_all(folder + "/VESTRALUME/" + sub);
        fs::create_symlink(outside, folder + "/VESTRALUME/" + sub);
        ImportOptions options;
        options.cards.cacheFolder = folder + "/cache";
        options.cards.network = false;
        const ImportResult result = importCatalogue(folder, {entry("New", "https://new.example/1.m3u8")}, options);
        EXPECT_FALSE(result.switchedIn) << sub;
        EXPECT_NE(result.error.find("leads out of the data root"), std::string::npos) << result.error;
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1) << sub;
        EXPECT_EQ(readFile(outside + "/z1.txt"), "mine") << sub;
        unlockFolder(folder + "/VESTRALUME");
    }
    // A playlist that is a FIFO without a writer is refused at once.
    const std::string fifo = folder + "/playlist.m3u";
    mkfifo(fifo.c_str(), 0600);
    const int status = runWithin(10, [&] {
        std::string error;
        const bool read = readPlaylistSource(fifo, PlaylistSinks(), {}, error);
        return !read && error.find("not a regular file") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    std::error_code code;
    fs::remove_all(folder, code);
}

// A provider's list whose every address carries a token that changes on
// each download.
std::vector<PlaylistEntry> tokenList(size_t channels, int download) {
    std::vector<PlaylistEntry> list;
    list.reserve(channels);
    for (size_t i = 0; i < channels; ++i)
        list.push_back(entry("Channel " + std::to_string(i), "https://provider.example/live/" + std::to_string(i) +
                                                                 ".m3u8?token=" + std::to_string(1000000 + download * 7919)));
    return list;
}

// The directory of ten imports of a large provider list with rotating
// tokens stays the size of the first, and a favourite made after the first
// follows its channel's newest address. Planned as the importer plans
// them, without making all the cards ten times (Import.ATokenThatChanges...
// does the same through whole imports, at a smaller size). 20,000 channels
// keep the sanitizer build quick; QUILLON_LINK_PLAN_CHANNELS=100000 runs
// the provider's full size.
TEST(LinkPlan, RotatingTokensKeepTheDirectoryBoundedAndFavouritesFollow) {
    const char* wanted = std::getenv("QUILLON_LINK_PLAN_CHANNELS");
    const size_t channels = wanted ? std::strtoul(wanted, nullptr, 10) : 20000;
    ASSERT_GT(channels, 4242u);
    const std::string delivered = "# delivered\n1\thttps://one.example/\n";
    std::string directory = delivered;
    std::vector<LinkUse> catalogue;
    LinkUse favourite;
    size_t firstSize = 0;
    for (int download = 1; download <= 10; ++download) {
        const std::vector<PlaylistEntry> list = tokenList(channels, download);
        std::vector<LinkUse> inUse = catalogue;
        if (favourite.link) inUse.push_back(favourite);
        const LinkPlan plan = planLinks(directory, list, inUse, 10000);
        ASSERT_EQ(plan.error, "");
        ASSERT_EQ(plan.links.size(), channels);
        directory = plan.directory;
        if (download == 1) {
            firstSize = directory.size();
            EXPECT_EQ(plan.newLinks, channels);
            favourite = {plan.links[4242], list[4242].name};  // channel 4243 made a favourite
        } else {
            EXPECT_EQ(plan.newLinks, 0u) << "download " << download;
            EXPECT_EQ(plan.links[4242], favourite.link) << "download " << download;
        }
        EXPECT_LE(directory.size(), 2 * firstSize) << "download " << download;
        catalogue.clear();
        for (size_t i = 0; i < channels; ++i) catalogue.push_back({plan.links[i], list[i].name});
        // The favourite opens the newest address of its channel.
        const std::string line = std::to_string(favourite.link) + "\t" + list[4242].address + "\tmedia\n";
        EXPECT_NE(directory.find(line), std::string::npos) << "download " << download;
    }
    EXPECT_EQ(directory.compare(0, delivered.size(), delivered), 0) << "the delivered entries stay";
}

// Which entries stay: those the catalogue in place, the new one or a
// favourite names, and the highest number; an address that comes back after
// it left takes a new number; a name that differs does not take a moved
// token's number; a directory the viewer would refuse is refused.
TEST(LinkPlan, UnnamedEntriesLeaveAndNumbersAreNeverGivenTwice) {
    const std::string directory =
        "1\thttps://web.example/\n# a note\n"
        "10000\thttps://a.example/a?t=1\tmedia\n"
        "10001\thttps://b.example/b\tmedia\n"
        "10002\thttps://c.example/c\tmedia\n"
        "10003\thttps://d.example/d\tmedia\n";
    // The catalogue in place shows a; a favourite holds c; b and d are named
    // by nothing (d is the highest number, so its line stays).
    const std::vector<LinkUse> inUse = {{10000, "A"}, {10002, "C"}};
    const LinkPlan plan = planLinks(directory,
                                    {entry("A", "https://a.example/a?t=2"), entry("B", "https://b.example/b"),
                                     entry("Not A", "https://a.example/a?t=3")},
                                    inUse, 10000);
    ASSERT_EQ(plan.error, "");
    EXPECT_EQ(plan.links, (std::vector<int>{10000, 10001, 10004}));
    EXPECT_EQ(plan.directory,
              "1\thttps://web.example/\n# a note\n"
              "10000\thttps://a.example/a?t=2\tmedia\n"
              "10001\thttps://b.example/b\tmedia\n"
              "10002\thttps://c.example/c\tmedia\n"
              "10003\thttps://d.example/d\tmedia\n"
              "10004\thttps://a.example/a?t=3\tmedia\n");
    // Nothing in use but the favourite: b and a leave; b, back later, takes
    // a new number.
    const LinkPlan later = planLinks(plan.directory, {entry("C", "https://c.example/c")}, {{10002, "C"}}, 10000);
    EXPECT_EQ(later.directory, "1\thttps://web.example/\n# a note\n"
                               "10002\thttps://c.example/c\tmedia\n"
                               "10004\thttps://a.example/a?t=3\tmedia\n");
    const LinkPlan back = planLinks(later.directory, {entry("B", "https://b.example/b")}, {{10002, "C"}}, 10000);
    EXPECT_EQ(back.links, std::vector<int>{10005});

    // 34,000 entries of long addresses would make a directory over the
    // viewer's cap: refused.
    std::vector<PlaylistEntry> huge;
    for (int i = 0; i < 34000; ++i)
        huge.push_back(entry("C" + std::to_string(i),
                             "https://long.example/" + std::to_string(i) + "/" + std::string(2000, 'x')));
    const LinkPlan refused = planLinks("", huge, {}, 10000);
    EXPECT_NE(refused.error.find("more than the 64 MiB"), std::string::npos) << refused.error;
}

// Whole imports of a list whose tokens change on every download: the
// directory keeps its size and the favourite, copied from the catalogue as
// the viewer copies it, opens its channel's newest address.
TEST_F(Import, ATokenThatChangesKeepsTheNumberAndTheFavouriteFollows) {
    ASSERT_TRUE(import(tokenList(20, 1)).switchedIn);
    const size_t firstSize = readFile(at(urlDirectoryFile)).size();
    fs::copy_file(at(linkPath(1, 5)), at(linkPath(2, 1)), fs::copy_options::overwrite_existing);
    writeText(at(stateFile("d.txt")), "1");
    for (int download = 2; download <= 4; ++download) {
        const std::vector<PlaylistEntry> list = tokenList(20, download);
        const ImportResult result = import(list);
        ASSERT_TRUE(result.switchedIn) << result.error;
        EXPECT_EQ(result.newLinks, 0u) << download;
        EXPECT_EQ(opens(2, 1), list[4].address) << download;
        EXPECT_EQ(readFile(at(urlDirectoryFile)).size(), firstSize) << download;
    }
    expectSound();
}

// The peak memory of this process so far, in bytes (VmHWM).
size_t peakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stoul(line.substr(6)) << 10;
    return 0;
}

// A remote playlist that streams entries without end, from a server on this
// machine: reading stops at the memory cap of the entries, which is checked
// as they arrive, and the playlist is refused (the importer's main says so
// and changes nothing) long before the download cap.
TEST(PlaylistLimits, AnEndlessRemotePlaylistStopsAtTheCapAsEntriesArrive) {
    const char* server =
        "python3 -c \"\n"
        "import signal, socket\n"
        "signal.alarm(120)\n"
        "s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(1)\n"
        "print(s.getsockname()[1], flush=True)\n"
        "c, _ = s.accept(); c.recv(65536)\n"
        "c.sendall(b'HTTP/1.1 200 OK\\r\\nContent-Type: audio/x-mpegurl\\r\\n\\r\\n#EXTM3U\\n')\n"
        "block = b''.join(b'#EXTINF:-1 group-title=\\\"Endless\\\",Channel %d ' % i + b'n' * 200 + b'\\nhttp://127.0.0.1/'"
        " + b'a' * 800 + b'/%d\\n' % i for i in range(1000))\n"
        "try:\n"
        "    while True: c.sendall(block)\n"
        "except OSError: pass\n"
        "\"";
    FILE* pipe = popen(server, "r");
    ASSERT_NE(pipe, nullptr);
    char port[32] = "";
    ASSERT_NE(std::fgets(port, sizeof port, pipe), nullptr);
    const std::string address = "http://127.0.0.1:" + std::string(port, std::strlen(port) - 1) + "/endless.m3u";
    const size_t before = peakMemory();
    const int status = runWithin(120, [&] {
        EntryCollector collector;
        PlaylistSinks sinks;
        sinks.entry = [&](PlaylistEntry& entry) { collectEntry(collector, entry); };
        sinks.full = [&] { return collector.full; };
        std::string error;
        const bool read = readPlaylistSource(address, sinks, {}, error);
        std::printf("%zu entries kept, %zu MiB counted; peak memory %zu MiB (%zu MiB before)\n",
                    collector.entries.size(), collector.bytes >> 20, peakMemory() >> 20, before >> 20);
        std::fflush(stdout);
        const bool refused = describeFullPlaylist(collector).find("MiB") != std::string::npos;
        return read && collector.full && refused && collector.bytes <= maxPlaylistEntryBytes ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    pclose(pipe);
}

}  // namespace

// ---- One tile per channel ---------------------------------------------------

TEST(Duplicates, NamesAreMatchedWithoutQualitiesCaseOrPunctuation) {
    const std::pair<const char*, const char*> cases[] = {
        {"Film Channel HD", "film channel"},
        {"FILM-CHANNEL (backup)", "film channel"},
        {"Film Channel [720p] FHD", "film channel"},
        {"  Film   Channel  ", "film channel"},
        {"Канал 1 HD", "Канал 1"},  // other scripts kept as they are
        {"HD", "hd"},               // nothing but a quality: the name itself
        {"(HD)", "(hd)"},
        {"Sport 2", "sport 2"},     // a number is part of the name
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(duplicateMatchName(name), expected) << name;
}

TEST(Duplicates, EntriesOfOneChannelBecomeOneWithAlternativesInPlaylistOrder) {
    auto grouped = [](const char* name, const char* address, const char* group, const char* id = "") {
        PlaylistEntry made = entry(name, address);
        made.group = group;
        made.tvgId = id;
        return made;
    };
    const std::vector<PlaylistEntry> playlist = {
        grouped("Film HD", "http://a.example/film-hd", "Movies"),
        grouped("News", "http://a.example/news", "News", "news.example"),
        grouped("Film SD", "http://b.example/film-sd", "Movies"),
        grouped("Film", "http://a.example/kids-film", "Kids"),  // another group: another channel
        grouped("World News 24", "http://c.example/news", "Info", "NEWS.example"),  // same id
        grouped("film (mirror)", "http://a.example/film-hd", "Movies"),  // the same address again
        grouped("Film 4K", "http://d.example/film", "Movies"),
        grouped("Sport 2", "http://a.example/sport2", "Movies"),
    };
    const MergedPlaylist merged = mergeDuplicates(playlist);
    std::vector<std::string> names;
    for (const PlaylistEntry& channel : merged.channels) names.push_back(channel.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Film HD", "News", "Film", "Sport 2"}));
    ASSERT_EQ(merged.alternatives.size(), merged.channels.size());
    EXPECT_EQ(merged.alternatives[0],
              (std::vector<std::string>{"http://b.example/film-sd", "http://d.example/film"}));
    EXPECT_EQ(merged.alternatives[1], (std::vector<std::string>{"http://c.example/news"}));
    EXPECT_TRUE(merged.alternatives[2].empty());
    EXPECT_TRUE(merged.alternatives[3].empty());
    EXPECT_EQ(merged.merged, 4u);
}

TEST(AlternativesFile, LinesRoundTripAndDamagedOnesAreRefused) {
    const std::vector<AlternativeLine> lines = {{1, {10001, 10005, 10006}}, {7, {10002, 10001}}};
    const std::string text = formatAlternatives(lines);
    EXPECT_EQ(text, "1\t10001\t10005\t10006\n7\t10002\t10001\n");
    std::vector<AlternativeLine> read;
    std::string problem;
    ASSERT_TRUE(parseAlternatives(text, read, problem)) << problem;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].links, (std::vector<int>{10002, 10001}));
    EXPECT_EQ(linksToTry(read, 10005), (std::vector<int>{10005, 10001, 10006}));  // itself first
    EXPECT_EQ(linksToTry(read, 10001), (std::vector<int>{10001, 10005, 10006}));  // first line holding it
    EXPECT_EQ(linksToTry(read, 42), (std::vector<int>{42}));

    const std::pair<const char*, const char*> damaged[] = {
        {"1\t10001\n", "1 link numbers"},
        {"1\t10001\t10001\n", "twice"},
        {"2\t10001\t10002\n1\t10003\t10004\n", "out of order"},
        {"1\t10001\tx\n", "is not a link number"},
        {"01\t10001\t10002\n", "no channel number"},
        {"1\t10001\t10002", "no line end"},
        {"1\t-3\t10002\n", "is not a link number"},
        {"1\t123456789\t10002\n", "is not a link number"},
    };
    for (const auto& [bytes, words] : damaged) {
        EXPECT_FALSE(parseAlternatives(bytes, read, problem)) << bytes;
        EXPECT_NE(problem.find(words), std::string::npos) << bytes << ": " << problem;
    }
    std::string many = "1";
    for (int link = 1; link <= static_cast<int>(maxAlternativeLinks) + 1; ++link)
        many += "\t" + std::to_string(10000 + link);
    EXPECT_FALSE(parseAlternatives(many + "\n", read, problem));
}

TEST_F(Import, AChannelListedFiveTimesIsOneTileWhoseAddressesKeepTheirNumbers) {
    // A favourite made of the address that later becomes an alternative.
    ASSERT_TRUE(import({entry("Mirror", "http://m.example/film-3")}).switchedIn);
    const std::optional<int> favouriteLink = readInt(at(linkPath(1, 1)));
    ASSERT_TRUE(favouriteLink);

    std::vector<PlaylistEntry> playlist;
    for (int copy = 1; copy <= 5; ++copy)
        playlist.push_back(entry("Film " + std::string(copy % 2 ? "HD" : "SD"),
                                 "http://m.example/film-" + std::to_string(copy)));
    playlist.push_back(entry("News", "http://m.example/news"));
    MergedPlaylist merged = mergeDuplicates(playlist);
    ASSERT_EQ(merged.channels.size(), 2u);
    EXPECT_EQ(merged.merged, 4u);
    options.alternatives = merged.alternatives;
    ImportResult result = import(merged.channels);
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_EQ(readChannelCount(folder), 2);
    expectSound();

    std::vector<AlternativeLine> lines;
    std::string problem;
    ASSERT_TRUE(parseAlternatives(readFile(at(alternativesFile)), lines, problem)) << problem;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].channel, 1);
    ASSERT_EQ(lines[0].links.size(), 5u);
    loadUrlDirectory(at(urlDirectoryFile));
    for (size_t copy = 0; copy < 5; ++copy)
        EXPECT_EQ(findUrl(lines[0].links[copy]).value_or(""),
                  "http://m.example/film-" + std::to_string(copy + 1));
    EXPECT_EQ(lines[0].links[2], *favouriteLink);  // the address kept its number
    EXPECT_EQ(linksToTry(lines, *favouriteLink).front(), *favouriteLink);
    EXPECT_EQ(opens(1, 1), "http://m.example/film-1");

    // The same again changes nothing; without the merge the file goes, and
    // with it it comes back whole.
    const Snapshot before = snapshot(root());
    EXPECT_TRUE(import(merged.channels).unchanged);
    EXPECT_TRUE(snapshot(root()) == before);
    options.alternatives.clear();
    result = import(playlist);
    ASSERT_TRUE(result.switchedIn) << result.error;
    EXPECT_FALSE(fileExists(at(alternativesFile)));
    EXPECT_EQ(readChannelCount(folder), 6);
    expectSound();
    options.alternatives = merged.alternatives;
    result = import(merged.channels);
    ASSERT_TRUE(result.switchedIn && !result.unchanged) << result.error;
    EXPECT_TRUE(fileExists(at(alternativesFile)));
    expectSound();

    // The checker checks the file.
    writeFile(at(alternativesFile), "1\t" + std::to_string(lines[0].links[1]) + "\t99999\n");
    const std::vector<std::string> problems = checkDataRoot(folder);
    auto mentions = [&](const std::string& words) {
        return std::any_of(problems.begin(), problems.end(),
                           [&](const std::string& p) { return p.find(words) != std::string::npos; });
    };
    EXPECT_TRUE(mentions("not the one of its link file")) << ::testing::PrintToString(problems);
    EXPECT_TRUE(mentions("link number 99999 has no address")) << ::testing::PrintToString(problems);
}
