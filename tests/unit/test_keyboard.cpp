// The keyboard commands: which key runs what in which list, the launch
// counter's cycle, adding and removing favourites, and quitting.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/shell.h"
#include "assets/texture.h"
#include "launch/launch.h"
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

constexpr unsigned char backspace = 8, enter = 13, escape = 27, del = 127;

std::string page(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

std::string channelAddress(int linkNumber) {
    return "https://video.example/channel/" + std::to_string(linkNumber) + "/videos";
}

// Every file under the data root with its bytes.
Tree snapshot() {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator("VESTRALUME"))
        if (entry.is_regular_file()) tree[entry.path().string()] = readFile(entry.path().string());
    return tree;
}

Tree withoutStateFolder(Tree tree) {
    for (auto it = tree.begin(); it != tree.end();)
        it = it->first.rfind(stateFolder, 0) == 0 ? tree.erase(it) : std::next(it);
    return tree;
}

Addresses sorted(Addresses addresses) {
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

// A data root in a scratch folder: placeholders, thumbnails (distinct JPEG
// bytes per channel) and link files for channels 1 to 40 of the catalogue
// and favourites 1 to 40, pages starting at 1 (catalogue) and 1
// (favourites), seven favourites, tile 3 selected, and a URL directory in
// which channel N of the catalogue has link number N.
class Keyboard : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        resetWall();
        for (int k = 1; k <= 16; ++k)
            writeSolidJpeg(placeholderPath(k), 8, 8, 40, 40, static_cast<unsigned char>(k * 10));
        std::string directory;
        for (int n = 1; n <= 40; ++n) {
            const auto shade = static_cast<unsigned char>(n * 6);
            writeSolidJpeg(thumbnailPath(1, n), 8, 8, shade, 200, 0);
            writeFile(linkPath(1, n), std::to_string(n));
            writeSolidJpeg(thumbnailPath(2, n), 8, 8, 0, 0, 200);
            writeFile(linkPath(2, n), std::to_string(n));
            directory += std::to_string(n) + "\t" + channelAddress(n) + "\n";
        }
        writeFile("VESTRALUME/links.tsv", directory);
        loadUrlDirectory();
        WallState state;
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

    ScratchRoot root;
    AddressRecorder opened{root.folder()};
};

// Keys without a command, and commands pressed in the list they do not run
// in, only hand the key over and redisplay: no file changes, the list stays.
TEST_F(Keyboard, KeysWithoutACommandChangeNothing) {
    // The characters either side of the digits, which type channel numbers
    // ('/' before them opens find mode: tests/unit/test_find.cpp).
    const unsigned char idle[] = {0, 1, 7, 9, 10, 12, 14, 26, 28, ' ', '.', ':', 'b', 'B', '@',
                                  'Z', '`', 'z', '~', 128, 200, 255};
    for (int list = 1; list <= 2; ++list) {
        currentList = list;
        const Tree before = snapshot();
        for (unsigned char key : idle) {
            press(key);
            EXPECT_EQ(currentList, list) << "key " << int(key);
        }
        EXPECT_TRUE(snapshot() == before) << "list " << list;
    }
    // Each list's own commands do nothing in the other list.
    struct Misplaced {
        unsigned char key;
        int list;
    };
    for (const Misplaced m : {Misplaced{'a', 2}, Misplaced{'A', 2}, Misplaced{del, 1}}) {
        currentList = m.list;
        const Tree before = snapshot();
        press(m.key);
        EXPECT_EQ(currentList, m.list) << "key " << int(m.key);
        EXPECT_TRUE(snapshot() == before) << "key " << int(m.key) << " in list " << m.list;
    }
    EXPECT_EQ(opened.drain(), Addresses{});
}

TEST_F(Keyboard, BackspaceSwitchesListsAndBuildsTheOtherPage) {
    writeFile(stateFile("z2.txt"), page(21));
    press(backspace);
    EXPECT_EQ(currentList, 2);
    EXPECT_EQ(readFile(tilePathFile(2, 1)), "VESTRALUME/2/21.Quillon");
    EXPECT_EQ(readFile(tilePathFile(2, 16)), "VESTRALUME/2/36.Quillon");
    EXPECT_FALSE(fileExists(tilePathFile(1, 1)));

    writeFile(stateFile("z1.txt"), page(5));
    press(backspace);
    EXPECT_EQ(currentList, 1);
    EXPECT_EQ(readFile(tilePathFile(1, 1)), "VESTRALUME/1/5.Quillon");
    for (int k = 1; k <= 16; ++k) EXPECT_NE(tileTextures[1][k], nullptr) << "tile " << k;
}

// Enter advances the launch counter by template copy and opens the product
// page first on counts 1 and 10; every press opens the selected channel
// (tile 3 of the page starting at 1: channel 3, link number 3).
TEST_F(Keyboard, EnterWalksTheLaunchCounterCycle) {
    struct Step {
        const char* counter;  // h.txt before
        int next;             // template h.txt is a copy of afterwards
        bool productPage;
    };
    const Step steps[] = {
        {"1", 2, true},   {"10", 11, true}, {"2", 3, false},  {"9", 10, false},
        {"19", 20, false}, {"20", 1, false}, {"0", 1, false},  {"25", 1, false},
        {"-1", 1, false}, {"", 1, false},   {"x1", 1, false}, {" 10\n", 11, true},
    };
    for (const Step& step : steps) {
        writeFile(stateFile("h.txt"), step.counter);
        press(enter);
        EXPECT_EQ(readFile(stateFile("h.txt")), readFile(stateFile(std::to_string(step.next) + ".txt")))
            << "counter [" << step.counter << "]";
        Addresses expected{channelAddress(3)};
        if (step.productPage) expected.push_back(productWebPage);
        EXPECT_EQ(sorted(opened.drain()), sorted(expected)) << "counter [" << step.counter << "]";
    }
    // A missing counter file starts the cycle again too.
    fs::remove(stateFile("h.txt"));
    press(enter);
    EXPECT_EQ(readFile(stateFile("h.txt")), "1");
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(3)});
}

// The channel of the selected tile: tile 5 of the page 9..24 is channel 13,
// whose link file holds 377; in the favourites list the favourites' files.
TEST_F(Keyboard, EnterOpensTheSelectedChannelOfTheCurrentList) {
    writeFile("VESTRALUME/links.tsv", "377\t" + channelAddress(377) + "\n6\t" + channelAddress(6) + "\n");
    loadUrlDirectory();
    writeFile(stateFile("z1.txt"), page(9));
    writeFile(stateFile("b.txt"), "5");
    writeFile(linkPath(1, 13), "377");
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(377)});
    EXPECT_EQ(readFile(stateFile("npt.txt")), "VESTRALUME/1/13.txt");

    currentList = 2;
    writeFile(linkPath(2, 5), "6");
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(6)});
    EXPECT_EQ(readFile(stateFile("npt.txt")), "VESTRALUME/2/5.txt");
}

// Digits type a channel number and open nothing; Enter before the pause is
// over goes to the channel first and opens it: 27 from the page starting at
// 1 stands on tile 11 of the page starting at 17.
TEST_F(Keyboard, EnterAfterDigitsOpensTheChannelTyped) {
    const Tree before = snapshot();
    press('2');
    press('7');
    EXPECT_TRUE(snapshot() == before) << "digits alone change nothing";
    EXPECT_EQ(opened.drain(), Addresses{});
    press(enter);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(17));
    EXPECT_EQ(readInt(stateFile("b.txt")), 11);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(27)});
    EXPECT_EQ(readFile(stateFile("h.txt")), readFile(stateFile("6.txt")));

    // The number is used up: the next Enter opens the selection again.
    press(enter);
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(27)});

    // A number outside the list goes nowhere; Enter opens the selection.
    for (unsigned char digit : {'3', '0', '0', '0'}) press(digit);
    press(enter);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(17));
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(27)});

    // Another command drops the number: Backspace shows the favourites, and
    // Enter then opens their selected tile, not a typed channel.
    press('9');
    press(backspace);
    press(enter);
    EXPECT_EQ(readFile(stateFile("z2.txt")), page(1));
    EXPECT_EQ(opened.drain(), Addresses{channelAddress(11)});
}

// Seven favourites, tile 3 selected, the catalogue page starting at 101:
// channel 103 becomes favourite 8 and the favourites show.
TEST_F(Keyboard, AddFavouriteCopiesTheSelectedChannelAsTheNextFavourite) {
    writeSolidJpeg(thumbnailPath(1, 103), 8, 8, 1, 2, 3);
    writeFile(linkPath(1, 103), "377\n");
    writeFile(stateFile("z1.txt"), page(101));
    for (unsigned char key : {'a', 'A'}) {
        writeFile(stateFile("d.txt"), "7");
        fs::remove(thumbnailPath(2, 8));
        fs::remove(linkPath(2, 8));
        currentList = 1;
        press(key);
        EXPECT_EQ(readFile(stateFile("d.txt")), "8") << "key " << key;
        EXPECT_EQ(readFile(thumbnailPath(2, 8)), readFile(thumbnailPath(1, 103))) << "key " << key;
        EXPECT_EQ(readFile(linkPath(2, 8)), "377\n") << "key " << key;
        EXPECT_EQ(readFile(stateFile("npi.txt")), "VESTRALUME/1/103.Quillon");
        EXPECT_EQ(readFile(stateFile("npt.txt")), "VESTRALUME/1/103.txt");
        EXPECT_EQ(readFile(stateFile("nppi.txt")), "VESTRALUME/2/8.Quillon");
        EXPECT_EQ(readFile(stateFile("nppt.txt")), "VESTRALUME/2/8.txt");
        EXPECT_EQ(currentList, 2);
        // The favourites' page was built and arms its thumbnail refresh.
        EXPECT_EQ(readFile(tilePathFile(2, 1)), "VESTRALUME/2/1.Quillon");
        EXPECT_TRUE(thumbnailRefresh[2][1]);
        for (int k = 1; k <= 16; ++k) EXPECT_NE(tileTextures[2][k], nullptr) << "tile " << k;
    }
    // The favourites before it are untouched.
    EXPECT_EQ(readFile(linkPath(2, 7)), "7");
    EXPECT_NE(readFile(thumbnailPath(2, 7)), readFile(thumbnailPath(1, 103)));
}

// A channel whose thumbnail is damaged is still added; its tile shows the
// placeholder and the program goes on.
TEST_F(Keyboard, AddFavouriteWithADamagedThumbnailShowsThePlaceholder) {
    writeFile(thumbnailPath(1, 3), "not a JPEG");
    press('a');
    EXPECT_EQ(readFile(stateFile("d.txt")), "8");
    EXPECT_EQ(readFile(thumbnailPath(2, 8)), "not a JPEG");
    EXPECT_EQ(currentList, 2);
    // The favourites' page runs 1 to 16: favourite 8 is tile 8.
    ASSERT_NE(tileTextures[2][8], nullptr);
    EXPECT_EQ(tileTextures[2][8]->name, placeholderPath(8));
    EXPECT_EQ(tileTextures[2][7]->name, thumbnailPath(2, 7));
}

// The count read decides the new favourite's number; a count without a
// value, or below 0, counts as no favourites.
TEST_F(Keyboard, AddFavouriteNumbersFromTheCount) {
    struct Case {
        const char* count;
        int number;
    };
    for (const Case c : {Case{"0", 1}, Case{"", 1}, Case{"none", 1}, Case{"-4", 1}, Case{"41\n", 42}}) {
        writeFile(stateFile("d.txt"), c.count);
        currentList = 1;
        press('a');
        EXPECT_EQ(readFile(stateFile("d.txt")), std::to_string(c.number)) << "count [" << c.count << "]";
        EXPECT_EQ(readFile(thumbnailPath(2, c.number)), readFile(thumbnailPath(1, 3)));
        EXPECT_EQ(readFile(linkPath(2, c.number)), "3");
    }
    fs::remove(stateFile("d.txt"));
    currentList = 1;
    press('a');
    EXPECT_EQ(readFile(stateFile("d.txt")), "1");
}

// A selected tile outside the selectable rows copies the channel named by
// the source paths of the last add.
TEST_F(Keyboard, AddFavouriteWithoutASelectableTileRepeatsTheLastSource) {
    press('a');  // channel 3 becomes favourite 8
    ASSERT_EQ(readFile(stateFile("npi.txt")), "VESTRALUME/1/3.Quillon");
    for (const char* tile : {"13", "0", ""}) {
        writeFile(stateFile("b.txt"), tile);
        const int number = *readInt(stateFile("d.txt")) + 1;
        currentList = 1;
        press('a');
        EXPECT_EQ(readFile(stateFile("d.txt")), std::to_string(number)) << "tile [" << tile << "]";
        EXPECT_EQ(readFile(thumbnailPath(2, number)), readFile(thumbnailPath(1, 3)));
        EXPECT_EQ(readFile(stateFile("npt.txt")), "VESTRALUME/1/3.txt");
    }
}

// When the new favourite's files cannot be copied, nothing is added: the
// count keeps its value and the catalogue stays on the wall.
TEST_F(Keyboard, AddFavouriteThatCannotCopyAddsNothing) {
    struct Failure {
        const char* what;
        std::string removed;  // the catalogue file that goes missing
    };
    for (const Failure& f : {Failure{"thumbnail", thumbnailPath(1, 3)}, Failure{"link file", linkPath(1, 3)}}) {
        writeSolidJpeg(thumbnailPath(1, 3), 8, 8, 9, 9, 9);
        writeFile(linkPath(1, 3), "3");
        fs::remove(f.removed);
        currentList = 1;
        const std::string favouriteThumbnail = readFile(thumbnailPath(2, 8));
        press('a');
        EXPECT_EQ(readFile(stateFile("d.txt")), "7") << f.what;
        EXPECT_EQ(currentList, 1) << f.what;
        EXPECT_FALSE(fileExists(tilePathFile(2, 1))) << f.what;
        EXPECT_EQ(readFile(thumbnailPath(2, 8)), favouriteThumbnail) << f.what;
    }
    // A page that cannot be read names no channel for the selected tile.
    writeFile(linkPath(1, 3), "3");
    writeFile(stateFile("z1.txt"), "1 2");
    press('a');
    EXPECT_EQ(readFile(stateFile("d.txt")), "7");
    EXPECT_EQ(currentList, 1);
}

// A count that cannot be written must not name the newest favourite as the
// new one: favourite 7 would be overwritten by the added channel.
TEST_F(Keyboard, AddFavouriteWithAnUnwritableCountOverwritesNoFavourite) {
    // Without placeholders the command loads no texture in the child process.
    for (int k = 1; k <= 16; ++k) fs::remove(placeholderPath(k));
    for (const char* folder : {"VESTRALUME/n", "VESTRALUME/2"})
        fs::permissions(folder, fs::perms::all, fs::perm_options::add);
    for (const auto& entry : fs::directory_iterator("VESTRALUME/2"))
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(stateFile("d.txt"), fs::perms::owner_read | fs::perms::group_read |
                                            fs::perms::others_read);
    const std::string favourite = readFile(thumbnailPath(2, 7));
    // Opening an address makes the process reap its children by itself; the
    // child's status is only available with the default disposition.
    struct sigaction defaults {}, previous {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &defaults, &previous);
    const int status = runWithoutPrivileges(root, [] {
        onKeyboard('a', 0, 0);
        return currentList;
    });
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(status, 1) << "the catalogue stays on the wall";
    EXPECT_EQ(readFile(stateFile("d.txt")), "7");
    EXPECT_EQ(readFile(thumbnailPath(2, 7)), favourite);
    EXPECT_EQ(readFile(linkPath(2, 7)), "7");
}

TEST_F(Keyboard, DeleteBlanksTheNewestFavouriteAndLowersTheCount) {
    const std::string blank = readFile(placeholderPath(1));
    writeFile(stateFile("d.txt"), "1");
    writeFile(linkPath(2, 1), "12");
    currentList = 2;
    press(del);
    EXPECT_EQ(readFile(stateFile("dd.txt")), "VESTRALUME/2/1.Quillon");
    EXPECT_EQ(readFile(stateFile("d.txt")), "0");
    EXPECT_EQ(readFile(thumbnailPath(2, 1)), blank);
    EXPECT_EQ(readFile(linkPath(2, 1)), "12");
    EXPECT_EQ(readFile(tilePathFile(2, 1)), "VESTRALUME/2/1.Quillon");
    EXPECT_EQ(currentList, 2);

    // At 0 the count stays, and the favourite removed last is blanked again.
    writeFile(thumbnailPath(2, 1), "changed since");
    press(del);
    EXPECT_EQ(readFile(stateFile("d.txt")), "0");
    EXPECT_EQ(readFile(stateFile("dd.txt")), "VESTRALUME/2/1.Quillon");
    EXPECT_EQ(readFile(thumbnailPath(2, 1)), blank);

    // The removed path is read back with the underscore allowed.
    writeFile(stateFile("dd.txt"), "VESTRALUME/2/old_1.Quillon");
    press(del);
    EXPECT_EQ(readFile("VESTRALUME/2/old_1.Quillon"), blank);
}

// Before any removal, with no favourites, there is nothing to blank; a count
// without a value or below 0 is no favourites. A removed path outside the
// favourites folder is never blanked.
TEST_F(Keyboard, DeleteWithoutFavouritesCopiesNothing) {
    for (const char* count : {"0", "", "-2"}) {
        writeFile(stateFile("d.txt"), count);
        for (const char* removed : {"(missing)", "", "VESTRALUME/1/3.Quillon", "VESTRALUME/2/",
                                    "VESTRALUME/2/../1/3.Quillon", "VESTRALUME/n/d.txt"}) {
            if (std::string(removed) == "(missing)")
                fs::remove(stateFile("dd.txt"));
            else
                writeFile(stateFile("dd.txt"), removed);
            const Tree before = snapshot();
            currentList = 2;
            press(del);
            // Only the page build writes, and only into the state folder.
            const Tree after = withoutStateFolder(snapshot());
            const Tree expected = withoutStateFolder(before);
            EXPECT_TRUE(after == expected) << "count [" << count << "], dd.txt " << removed;
            EXPECT_EQ(readFile(stateFile("d.txt")), count) << "dd.txt " << removed;
        }
    }
}

// Paths that come from state files (the removed favourite's path, the
// favourite sources and targets, tile paths, the link path) stay inside the
// data root: absolute paths, ".." and symbolic links leading out of the root
// neither read a file from outside nor write one. Beside the keyboard's data
// root, a folder outside it holds a picture and a text file that nothing may
// read into the root or overwrite.
class ConfinedPaths : public Keyboard {
protected:
    void SetUp() override {
        Keyboard::SetUp();
        fs::create_directories(outside);
        writeSolidJpeg(outsidePicture, 8, 8, 255, 0, 255);
        writeFile(outsideText, "4\nprivate text outside the root\n");
        pictureBytes = readFile(outsidePicture);
        textBytes = readFile(outsideText);
    }
    void TearDown() override {
        Keyboard::TearDown();
        std::error_code ignored;
        fs::remove_all(outside, ignored);
    }

    void expectOutsideUntouched(const std::string& what) {
        EXPECT_EQ(readFile(outsidePicture), pictureBytes) << what;
        EXPECT_EQ(readFile(outsideText), textBytes) << what;
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 2) << what;
    }

    const std::string outside = root.folder() + "-outside";
    const std::string outsidePicture = outside + "/picture.jpg";
    const std::string outsideText = outside + "/target.txt";
    std::string pictureBytes, textBytes;
};

// Delete blanks the removed favourite's thumbnail named in dd.txt; a name
// that leads out of the root through a link, or names an outside file
// directly, blanks nothing there.
TEST_F(ConfinedPaths, DeleteNeverWritesOutsideTheRoot) {
    fs::create_symlink(outside, "VESTRALUME/2/x");
    fs::create_symlink(fs::relative(outside, "VESTRALUME/2"), "VESTRALUME/2/up");
    fs::remove("VESTRALUME/2/9.Quillon");
    fs::create_symlink(outsideText, "VESTRALUME/2/9.Quillon");
    const std::string blank = readFile(placeholderPath(1));
    for (const std::string& removed :
         {std::string("VESTRALUME/2/x/target.txt"), std::string("VESTRALUME/2/up/target.txt"),
          std::string("VESTRALUME/2/x/new.txt"), outsideText}) {
        writeFile(stateFile("d.txt"), "0");
        writeFile(stateFile("dd.txt"), removed);
        currentList = 2;
        press(del);
        expectOutsideUntouched("dd.txt holding " + removed);
    }
    // A link in the favourites folder itself is replaced by the blank image,
    // not followed.
    writeFile(stateFile("dd.txt"), "VESTRALUME/2/9.Quillon");
    press(del);
    expectOutsideUntouched("dd.txt naming a link to an outside file");
    EXPECT_FALSE(fs::is_symlink("VESTRALUME/2/9.Quillon"));
    EXPECT_EQ(readFile("VESTRALUME/2/9.Quillon"), blank);
}

// With no selectable tile, `a` copies the source paths left in npi.txt and
// npt.txt; sources outside the root (absolute, "..", through a link) add
// nothing and copy nothing in.
TEST_F(ConfinedPaths, AddFavouriteCopiesNothingFromOutside) {
    fs::create_symlink(outside, "VESTRALUME/1/x");
    fs::create_symlink(outsidePicture, "VESTRALUME/1/77.Quillon");
    fs::create_symlink(outsideText, "VESTRALUME/1/77.txt");
    fs::copy_file(outsidePicture, "beside.jpg");
    writeFile("beside.txt", textBytes);
    struct Sources {
        std::string picture, link;
    };
    const Sources cases[] = {
        {outsidePicture, outsideText},
        {"VESTRALUME/../beside.jpg", "VESTRALUME/../beside.txt"},
        {"VESTRALUME/1/x/picture.jpg", "VESTRALUME/1/x/target.txt"},
        {"VESTRALUME/1/77.Quillon", "VESTRALUME/1/77.txt"},
        {"beside.jpg", "beside.txt"},
    };
    writeFile(stateFile("b.txt"), "13");
    const std::string favouritePicture = readFile(thumbnailPath(2, 8));
    for (const Sources& c : cases) {
        writeFile(stateFile("npi.txt"), c.picture);
        writeFile(stateFile("npt.txt"), c.link);
        currentList = 1;
        press('a');
        EXPECT_EQ(readFile(stateFile("d.txt")), "7") << c.picture;
        EXPECT_EQ(currentList, 1) << c.picture;
        EXPECT_EQ(readFile(thumbnailPath(2, 8)), favouritePicture) << c.picture;
        EXPECT_EQ(readFile(linkPath(2, 8)), "8") << c.picture;
        expectOutsideUntouched("sources " + c.picture);
    }
    // Sources inside the root still work the same way.
    writeFile(stateFile("npi.txt"), thumbnailPath(1, 5));
    writeFile(stateFile("npt.txt"), linkPath(1, 5));
    press('a');
    EXPECT_EQ(readFile(stateFile("d.txt")), "8");
    EXPECT_EQ(readFile(thumbnailPath(2, 8)), readFile(thumbnailPath(1, 5)));
    EXPECT_EQ(readFile(linkPath(2, 8)), "5");
}

// Tile path files naming images outside the root show the tile's
// placeholder, as a missing image does.
TEST_F(ConfinedPaths, TilePathsOutsideTheRootShowThePlaceholder) {
    fs::create_symlink(outside, "VESTRALUME/1/x");
    fs::create_symlink(outsidePicture, "VESTRALUME/1/88.Quillon");
    fs::copy_file(outsidePicture, "beside.jpg");
    const std::string paths[] = {outsidePicture, "VESTRALUME/1/x/picture.jpg", "VESTRALUME/1/88.Quillon",
                                 "VESTRALUME/../beside.jpg", "beside.jpg"};
    for (int tile = 1; tile <= 16; ++tile) writeFile(tilePathFile(1, tile), thumbnailPath(1, tile));
    for (int k = 0; k < 5; ++k) writeFile(tilePathFile(1, k + 1), paths[k]);
    testing::internal::CaptureStdout();
    thumbnailRefresh[1][1] = true;
    for (int step = 0; step < 16; ++step) advanceThumbnailRefresh(1);
    testing::internal::GetCapturedStdout();
    for (int k = 0; k < 5; ++k) {
        ASSERT_NE(tileTextures[1][k + 1], nullptr) << paths[k];
        EXPECT_EQ(tileTextures[1][k + 1]->name, placeholderPath(k + 1)) << paths[k];
    }
    EXPECT_EQ(tileTextures[1][6]->name, thumbnailPath(1, 6));
    expectOutsideUntouched("tile paths");
}

// A page of giant but valid thumbnails (over 4096 x 4096 pixels) shows the
// placeholders without decoding them.
TEST_F(ConfinedPaths, GiantThumbnailsShowThePlaceholder) {
    for (int n = 5; n <= 8; ++n)
        ASSERT_TRUE(writeSolidJpeg(thumbnailPath(1, n), 4097, 16, 255, 255, 0));
    ASSERT_TRUE(writeSolidJpeg(thumbnailPath(1, 9), 4096, 16, 255, 255, 0));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    buildPage(1);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    for (int tile = 5; tile <= 8; ++tile) EXPECT_EQ(tileTextures[1][tile]->name, placeholderPath(tile));
    EXPECT_EQ(tileTextures[1][9]->name, thumbnailPath(1, 9));
    EXPECT_NE(err.find("4096 x 4096"), std::string::npos) << err;
}

// Enter with a link file that is a FIFO, a link out of the root or a device
// behaves as with a missing link file: the channel opened before opens again.
TEST_F(ConfinedPaths, EnterWithAnUnusableLinkFileOpensThePreviousChannel) {
    press(enter);
    ASSERT_EQ(opened.drain(), Addresses{channelAddress(3)});
    writeFile(stateFile("b.txt"), "4");
    const std::string link = linkPath(1, 4);
    for (int kind = 0; kind < 3; ++kind) {
        fs::remove(link);
        if (kind == 0) {
            ASSERT_EQ(mkfifo(link.c_str(), 0644), 0);
        } else {
            fs::create_symlink(kind == 1 ? outsideText : std::string("/dev/zero"), link);
        }
        const int status = runWithin(60, [] {
            onKeyboard(enter, 0, 0);
            return 0;
        });
        EXPECT_EQ(status, 0) << "Enter did not end, link file kind " << kind;
        EXPECT_EQ(opened.drain(), Addresses{channelAddress(3)}) << "kind " << kind;
        EXPECT_EQ(readFile(stateFile("hl.txt")), "3") << "kind " << kind;
    }
    expectOutsideUntouched("link files");
}

TEST(KeyboardDeathTest, EscEndsTheProcessWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int list = 1; list <= 2; ++list)
        EXPECT_EXIT(
            {
                ensureGlContext();
                currentList = list;
                onQuit = quitViewer;  // as the program sets it at start-up
                onKeyboard(escape, 0, 0);
                std::exit(3);
            },
            testing::ExitedWithCode(0), "");
}

}  // namespace
