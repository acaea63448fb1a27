// Paths that come from state files (the removed favourite's path, the
// favourite sources and targets, tile paths, the link path) stay inside the
// data root: absolute paths, ".." and symbolic links leading out of the root
// neither read a file from outside nor write one. The outside files stay
// byte for byte as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

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
#include "tools/jpeg_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned char enter = 13, del = 127;

std::string page(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

std::string channelAddress(int linkNumber) {
    return "https://video.example/channel/" + std::to_string(linkNumber);
}

// A data root with placeholders, catalogue channels and favourites 1 to 20
// (channel N has link number N), seven favourites, tile 3 selected, and a
// folder outside the root holding a picture and a text file that nothing may
// read into the root or overwrite.
class ConfinedPaths : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        resetWall();
        for (int k = 1; k <= 16; ++k)
            writeSolidJpeg(placeholderPath(k), 8, 8, 40, 40, static_cast<unsigned char>(k * 10));
        std::string directory;
        for (int n = 1; n <= 20; ++n) {
            writeSolidJpeg(thumbnailPath(1, n), 8, 8, static_cast<unsigned char>(n * 10), 200, 0);
            writeFile(linkPath(1, n), std::to_string(n));
            writeSolidJpeg(thumbnailPath(2, n), 8, 8, 0, 0, 200);
            writeFile(linkPath(2, n), std::to_string(n));
            directory += std::to_string(n) + "\t" + channelAddress(n) + "\n";
        }
        writeFile("VESTRALUME/links.tsv", directory);
        loadUrlDirectory();
        writeFile(stateFile("z1.txt"), page(1));
        writeFile(stateFile("z2.txt"), page(1));
        writeFile(stateFile("b.txt"), "3");
        writeFile(stateFile("nn.txt"), "1");
        writeFile(stateFile("1c.txt"), "1");
        writeFile(stateFile("2c.txt"), "1");
        writeFile(stateFile("u.txt"), "2");
        writeFile(stateFile("h.txt"), "5");
        writeFile(stateFile("d.txt"), "7");

        fs::create_directories(outside);
        writeSolidJpeg(outsidePicture, 8, 8, 255, 0, 255);
        writeFile(outsideText, "4\nprivate text outside the root\n");
        pictureBytes = readFile(outsidePicture);
        textBytes = readFile(outsideText);
    }
    void TearDown() override {
        opened.drain();
        resetWall();
        std::error_code ignored;
        fs::remove_all(outside, ignored);
    }

    void expectOutsideUntouched(const std::string& what) {
        EXPECT_EQ(readFile(outsidePicture), pictureBytes) << what;
        EXPECT_EQ(readFile(outsideText), textBytes) << what;
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 2) << what;
    }

    static void press(unsigned char key) { onKeyboard(key, 0, 0); }

    ScratchRoot root;
    AddressRecorder opened{root.folder()};
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
    ASSERT_EQ(opened.drain(), std::vector<std::string>{channelAddress(3)});
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
        EXPECT_EQ(opened.drain(), std::vector<std::string>{channelAddress(3)}) << "kind " << kind;
        EXPECT_EQ(readFile(stateFile("hl.txt")), "3") << "kind " << kind;
    }
    expectOutsideUntouched("link files");
}

}  // namespace
