// Find mode on the wall: the keys that open, type and leave it, the list of
// matches it shows through its own page and tile path files, Enter on a
// match, and the catalogue's and favourites' files it never touches.
#include <gtest/gtest.h>

#include <GL/freeglut.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dataroot/name_index.h"
#include "launch/launch.h"
#include "nav/find.h"
#include "nav/commands.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/address_recorder.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"
#include "tests/support/wall_state.h"

namespace fs = std::filesystem;

namespace {

using Addresses = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

constexpr unsigned char backspace = 8, enter = 13, escape = 27;

std::string page(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

std::string channelAddress(int linkNumber) {
    return "https://video.example/channel/" + std::to_string(linkNumber) + "/videos";
}

// Every file under the data root but the state folder, with its bytes.
Tree listFiles() {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator("VESTRALUME"))
        if (entry.is_regular_file() && entry.path().string().rfind(stateFolder, 0) != 0)
            tree[entry.path().string()] = readFile(entry.path().string());
    return tree;
}

// The names of the catalogue's 40 channels, in their link files' second line;
// the favourites hold seven of them.
std::string catalogueName(int channel) {
    switch (channel) {
        case 5: return "BBC One";
        case 12: return "Café Télé";
        case 17: return "Superbbc";
        case 30: return "BBC News";
        default: return "Channel " + std::to_string(channel);
    }
}

std::string favouriteName(int favourite) { return "Favourite " + std::to_string(favourite); }

// A delivered-style root (no count record) with named link files for 40
// catalogue channels and 40 favourites (seven counted), pages at 1 and 9,
// tile 3 selected, link number N for catalogue channel N and 100 + N for
// favourite N.
class Find : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        resetWall();
        for (int k = 1; k <= 16; ++k)
            writeSolidJpeg(placeholderPath(k), 8, 8, 40, 40, static_cast<unsigned char>(k * 10));
        std::string directory;
        for (int n = 1; n <= 40; ++n) {
            writeSolidJpeg(thumbnailPath(1, n), 8, 8, static_cast<unsigned char>(n * 6), 200, 0);
            writeFile(linkPath(1, n), std::to_string(n) + "\n" + catalogueName(n) + "\n");
            writeSolidJpeg(thumbnailPath(2, n), 8, 8, 0, 0, static_cast<unsigned char>(n * 6));
            writeFile(linkPath(2, n), std::to_string(100 + n) + "\n" + favouriteName(n) + "\n");
            directory += std::to_string(n) + "\t" + channelAddress(n) + "\n";
            directory += std::to_string(100 + n) + "\t" + channelAddress(100 + n) + "\n";
        }
        writeFile("VESTRALUME/links.tsv", directory);
        loadUrlDirectory();
        WallState state;
        state.favouritesFirst = 9;
        state.selectedTile = 3;
        state.launchCounter = 5;
        state.favouritesCount = 7;
        writeWallState(state);
    }
    void TearDown() override {
        opened.drain();
        resetWall();
    }

    static void press(unsigned char key) { onKeyboard(key, 0, 0); }
    static void type(const std::string& text) {
        for (char c : text) press(static_cast<unsigned char>(c));
    }

    // What the 16 tiles of find mode's wall show.
    static std::vector<std::string> foundTiles() {
        std::vector<std::string> tiles;
        for (int tile = 1; tile <= 16; ++tile) tiles.push_back(readFile(tilePathFile(findList, tile)));
        return tiles;
    }
    // The tiles showing channels `channels` of `list` first, placeholders after.
    static std::vector<std::string> showing(int list, const std::vector<int>& channels) {
        std::vector<std::string> tiles;
        for (int tile = 1; tile <= 16; ++tile)
            tiles.push_back(tile <= static_cast<int>(channels.size())
                                ? thumbnailPath(list, channels[static_cast<size_t>(tile - 1)])
                                : placeholderPath(tile));
        return tiles;
    }

    ScratchRoot root;
    AddressRecorder opened{root.folder()};
};

TEST_F(Find, TypedNamesShowTheirChannelsBestFirst) {
    press('/');
    ASSERT_TRUE(findActive());
    EXPECT_EQ(currentList, findList);
    EXPECT_EQ(readFile(pageFile(findList)), page(1));
    EXPECT_EQ(readFile(stateFile("b.txt")), "1");
    EXPECT_EQ(foundTiles(), showing(1, {}));  // nothing typed: an empty wall

    const struct {
        const char* typed;
        std::vector<int> channels;
    } cases[] = {
        {"bbc", {5, 30, 17}},       // word starts, then inside a word
        {"bbc n", {30, 5}},         // every word must match: "n" inside "one"
        {"cafe", {12}},             // accents ignored
        {"CAF\xc3\x89", {12}},      // bytes above ASCII are never typed: "CAF"
        {"30", {30}},               // a channel's number, then nothing else named 30
        {"40", {40}},
        {"channel 3", {3, 31, 32, 33, 34, 35, 36, 37, 38, 39, 13, 23}},
        {"zzz", {}},
    };
    for (const auto& c : cases) {
        setFindQuery(c.typed);
        EXPECT_EQ(foundTiles(), showing(1, c.channels)) << c.typed;
        // The places past the last match are left out of the wall.
        for (int tile = 1; tile <= 16; ++tile)
            EXPECT_EQ(blankTiles[findList][tile], tile > static_cast<int>(c.channels.size()))
                << c.typed << " tile " << tile;
        EXPECT_EQ(readFile(pageFile(findList)), page(1)) << c.typed;
        EXPECT_EQ(readFile(stateFile("b.txt")), "1") << c.typed;
    }
    setFindQuery("");
    type("Bbc ");
    EXPECT_EQ(findQuery(), "Bbc ");
    EXPECT_EQ(foundTiles(), showing(1, {5, 30, 17}));
    EXPECT_EQ(findBarText(), "Find: Bbc _    3 channels");
    type("zz");
    EXPECT_EQ(findBarText(), "Find: Bbc zz_    no channel found");
    EXPECT_EQ(foundTiles(), showing(1, {}));
    press(backspace);
    press(backspace);
    EXPECT_EQ(foundTiles(), showing(1, {5, 30, 17}));
}

// Every key types while find mode is on: `a` adds no favourite, digits type
// no channel number, Delete removes nothing; nothing outside the state
// folder changes and the catalogue's page stays.
TEST_F(Find, KeysTypeInsteadOfRunningTheirCommands) {
    const Tree files = listFiles();
    const std::string favourites = readFile(stateFile("d.txt"));
    press('/');
    type("aA1/ \x7f");
    EXPECT_EQ(findQuery(), "aA1/ ");
    EXPECT_EQ(readFile(stateFile("d.txt")), favourites);
    EXPECT_EQ(currentList, findList);
    EXPECT_TRUE(listFiles() == files);
    press(escape);
    // No channel number was being typed: going to one now would select
    // channel 1's tile.
    finishTypedNumber();
    EXPECT_EQ(readFile(stateFile("b.txt")), "3");
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1));
    EXPECT_EQ(opened.drain(), Addresses{});
}

TEST_F(Find, EscAndBackspaceBringBackTheListLeft) {
    for (int list = 1; list <= 2; ++list) {
        for (const bool byEscape : {true, false}) {
            currentList = list;
            writeFile(stateFile("b.txt"), "7");
            buildPage(list);
            const std::string pageLeft = readFile(pageFile(list));
            std::vector<std::string> tilesLeft;
            for (int tile = 1; tile <= 16; ++tile) tilesLeft.push_back(readFile(tilePathFile(list, tile)));

            // `/` and F3 (which remote controls send) open it alike.
            if (byEscape)
                press('/');
            else
                applySpecialKey(GLUT_KEY_F3);
            ASSERT_TRUE(findActive());
            applySpecialKey(GLUT_KEY_F3);  // does nothing more
            type("ch");
            EXPECT_EQ(findQuery(), "ch");
            applySpecialKey(GLUT_KEY_RIGHT);
            applySpecialKey(GLUT_KEY_PAGE_DOWN);
            if (byEscape) {
                press(escape);
            } else {
                press(backspace);
                press(backspace);
                EXPECT_TRUE(findActive()) << "an emptied query stays in find mode";
                press(backspace);
            }
            EXPECT_FALSE(findActive());
            EXPECT_EQ(currentList, list);
            EXPECT_EQ(readFile(stateFile("b.txt")), "7");
            EXPECT_EQ(readFile(pageFile(list)), pageLeft);
            for (int tile = 1; tile <= 16; ++tile)
                EXPECT_EQ(readFile(tilePathFile(list, tile)), tilesLeft[static_cast<size_t>(tile - 1)])
                    << "list " << list << " tile " << tile;
        }
    }
    // Esc on the wall still quits: that is the keyboard's (test_keyboard.cpp).
}

TEST_F(Find, EnterOpensTheSelectedMatch) {
    press('/');
    type("bbc");
    applySpecialKey(GLUT_KEY_RIGHT);  // BBC News
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(30)});
    EXPECT_EQ(readFile(stateFile("npt.txt")), linkPath(1, 30));
    // A tile past the last match opens nothing, not the channel before.
    applySpecialKey(GLUT_KEY_RIGHT);
    applySpecialKey(GLUT_KEY_RIGHT);
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{});
    EXPECT_TRUE(findActive()) << "Enter leaves find mode on";
    press(escape);

    // In the favourites, the favourites are searched and opened.
    currentList = 2;
    buildPage(2);
    press('/');
    type("favourite 6");
    EXPECT_EQ(foundTiles(), showing(2, {6}));
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(106)});
    // Favourites above the count are empty slots, never found.
    setFindQuery("favourite 9");
    EXPECT_EQ(foundTiles(), showing(2, {}));
    EXPECT_EQ(foundCount(), 0);
    press(escape);
    // A count edited far beyond the favourites searches only what their
    // wall can show (here the 40 named ones).
    writeFile(stateFile("d.txt"), "2000000000");
    press('/');
    setFindQuery("favourite");
    EXPECT_EQ(foundCount(), 40);
}

TEST_F(Find, MatchesScrollAsAListOfTheirOwn) {
    press('/');
    type("channel");  // 36 channels
    EXPECT_EQ(foundCount(), 36);
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(pageFile(findList)), page(5));
    applySpecialKey(GLUT_KEY_END);
    // The last of 36 matches on a selectable row: places 25 to 40.
    EXPECT_EQ(readFile(pageFile(findList)), page(25));
    const std::vector<std::string> tiles = foundTiles();
    EXPECT_EQ(tiles[11], thumbnailPath(1, 40));  // place 36: channel 40
    EXPECT_EQ(tiles[12], placeholderPath(13));
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(pageFile(findList)), page(25));
    applySpecialKey(GLUT_KEY_HOME);
    EXPECT_EQ(readFile(pageFile(findList)), page(1));
    applySpecialKey(GLUT_KEY_PAGE_UP);
    EXPECT_EQ(readFile(pageFile(findList)), page(1));
    // A new query starts again at the best match.
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    press(backspace);
    EXPECT_EQ(readFile(pageFile(findList)), page(1));
}

// An imported catalogue is searched by its index, made at import with the
// transliterations; an index made for another catalogue, or damaged, is
// read as none and the link files' names are searched.
TEST_F(Find, AnImportedCatalogueIsSearchedByItsIndex) {
    writeFile(channelCountFile, "40\n");
    std::vector<NameEntry> entries;
    for (int n = 1; n <= 40; ++n) {
        NameEntry entry;
        entry.channel = n;
        entry.names = n == 23 ? "pervyj kanal|pervyjkanal|pervyy kanal|pervyykanal" : "indexed " + std::to_string(n);
        entry.group = n % 2 ? "news" : "sport";
        entries.push_back(entry);
    }
    const std::string index = nameIndexText(entries);
    const struct {
        const char* what;
        std::string text;
        const char* query;
        std::vector<int> channels;
    } cases[] = {
        {"the index", index, "pervyy", {23}},
        {"the index's groups", index, "spo", {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34, 36, 38, 40}},
        {"an index of another catalogue", nameIndexText(std::vector<NameEntry>(entries.begin(), entries.begin() + 39)),
         "bbc", {5, 30, 17}},
        {"a damaged index", index.substr(0, index.size() / 2), "bbc", {5, 30, 17}},
    };
    for (const auto& c : cases) {
        writeFile(nameIndexFile, c.text);
        press('/');
        setFindQuery(c.query);
        std::vector<int> shown(c.channels.begin(), c.channels.begin() + std::min<size_t>(16, c.channels.size()));
        EXPECT_EQ(foundTiles(), showing(1, shown)) << c.what;
        EXPECT_EQ(foundCount(), static_cast<int>(c.channels.size())) << c.what;
        press(escape);
    }
}

}  // namespace
