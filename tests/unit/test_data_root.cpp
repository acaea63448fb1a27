// The sample data root: the text data kept in the repository, the generated
// root and the data checker, which must pass the generated root and catch
// broken ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numeric>
#include <unistd.h>

#include "dataroot/catalogue_stamp.h"
#include "dataroot/data_root.h"
#include "state/state_files.h"
#include "tests/support/scratch.h"
#include "tools/data_check.h"
#include "tools/make_data.h"

namespace {

namespace fs = std::filesystem;

const std::string textRoot = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME";
// The build's card cache: roots made by the tests copy the cards of the
// build's own sample roots.
const std::string cardCache = QUILLON_CARD_CACHE;

bool mentions(const std::vector<std::string>& problems, const std::string& words) {
    return std::any_of(problems.begin(), problems.end(), [&](const std::string& problem) {
        return problem.find(words) != std::string::npos;
    });
}

// ---- The text data in the repository ------------------------------------

TEST(TextData, TemplatesHoldExactlyTheirOwnNumber) {
    for (int k = 1; k <= 20; ++k)
        EXPECT_EQ(readFile(textRoot + "/n/" + std::to_string(k) + ".txt"), std::to_string(k));
}

TEST(TextData, PageFilesAndTilePathsAreWrittenAsTheProgramWritesThem) {
    std::vector<int> firstPage(16);
    std::iota(firstPage.begin(), firstPage.end(), 1);
    const std::string page = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16";
    EXPECT_EQ(formatIntList(firstPage), page);
    EXPECT_EQ(readFile(textRoot + "/n/z1.txt"), page);
    EXPECT_EQ(readFile(textRoot + "/n/z2.txt"), page);
    for (int k = 1; k <= 16; ++k) {
        EXPECT_EQ(readFile(textRoot + "/n/n" + std::to_string(k) + ".txt"),
                  "VESTRALUME/1/" + std::to_string(k) + ".Quillon");
        EXPECT_EQ(readFile(textRoot + "/n/n" + std::to_string(k) + "b.txt"),
                  "VESTRALUME/2/" + std::to_string(k) + ".Quillon");
    }
}

TEST(TextData, FirstRunStateValues) {
    struct Expected {
        const char* file;
        const char* content;
    };
    const Expected values[] = {{"b.txt", "1"},  {"nn.txt", "1"}, {"1c.txt", "1"}, {"2c.txt", "1"},
                               {"h.txt", "1"},  {"d.txt", "0"},  {"hl.txt", "1"},
                               {"dd.txt", "VESTRALUME/2/1.Quillon"},
                               {"npi.txt", "VESTRALUME/1/1.Quillon"},
                               {"npt.txt", "VESTRALUME/1/1.txt"},
                               {"nppi.txt", "VESTRALUME/2/1.Quillon"},
                               {"nppt.txt", "VESTRALUME/2/1.txt"}};
    for (const Expected& value : values)
        EXPECT_EQ(readFile(textRoot + "/n/" + value.file), value.content) << value.file;
}

// The wall origin in eye space is (0, 5.5, 0) + band offset + s * tile
// position; the tile model is centred on its origin, 6.5 x 3.7 wall units.
// The first-run wall scale must put the whole 4 x 4 wall near the middle of
// a 16:9 view (60 degrees vertical at distance 35) and fill a good part of it.
TEST(TextData, FirstRunWallScaleCentresTheWallInA16To9View) {
    const std::optional<float> read = readFloat(textRoot + "/n/u.txt");
    ASSERT_TRUE(read);
    const double s = *read;
    struct Band {
        double low, high;
        bool lowIncluded;
        double x, y;
    };
    const Band bands[] = {{2.3, 100, false, -23, 6}, {2.2, 2.3, false, -22, 4},
                          {2.1, 2.2, false, -21, 4}, {2.0, 2.1, true, -20.5, 4},
                          {1.9, 2.0, false, -20, 4}, {1.8, 1.9, false, -19, 4},
                          {1.7, 1.8, false, -18, 4}, {1.6, 1.7, false, -17, 4},
                          {0, 1.6, false, -16, 4}};
    const Band* band = nullptr;
    for (const Band& b : bands)
        if ((b.lowIncluded ? s >= b.low : s > b.low) && s < b.high) band = &b;
    ASSERT_NE(band, nullptr) << "the wall scale falls in no placement band";

    const double left = band->x + s * -3.25, right = band->x + s * (3 * 6.55 + 3.25);
    const double top = 5.5 + band->y + s * 1.85, bottom = 5.5 + band->y - s * (3 * 3.75 + 1.85);
    const double halfHeight = 35 * std::tan(30 * M_PI / 180), halfWidth = halfHeight * 16 / 9;
    EXPECT_LT(std::fabs((left + right) / 2), 1.0) << "wall centre x";
    EXPECT_LT(std::fabs((top + bottom) / 2), 1.0) << "wall centre y";
    EXPECT_LT(right, halfWidth);
    EXPECT_GT(left, -halfWidth);
    EXPECT_LT(top, halfHeight);
    EXPECT_GT(bottom, -halfHeight);
    EXPECT_GT((top - bottom) / (2 * halfHeight), 0.6) << "the wall fills the view";
}

TEST(TextData, StateFilesAreToldApartFromDeliveredFiles) {
    const std::pair<const char*, bool> cases[] = {
        {"n/b.txt", true},    {"n/u.txt", true},     {"n/z1.txt", true},   {"n/n16b.txt", true},
        {"n/hl.txt", true},   {"n/1.txt", false},    {"n/20.txt", false},  {"n/21.txt", true},
        {"n/rp.txt", false},  {"n/mp.mtl", false},   {"links.tsv", false}, {"1/1.txt", false},
        {"n/01.txt", true}};
    for (const auto& [path, state] : cases) EXPECT_EQ(isStateFile(path), state) << path;
}

TEST(TextData, ChannelLabelsComeFromTheAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://video.example/c/KestrelKitchenOfficial/videos", "KESTREL KITCHEN OFFICIAL"},
        {"https://video.example/user/meadowtech/videos", "MEADOWTECH"},
        {"https://video.example/user/meadowtech", "MEADOWTECH"},
        {"https://video.example/RiverNews/videos", "RIVER NEWS"},
        {"https://video.example/channel/UCab_-Xyz123/videos", "CHANNEL AB_-XY"},
        {"https://video.example/playlist?list=PLabc", "PLAYLIST"},
        {"https://video.example/watch?v=abc&list=PLabc", "VIDEO"},
        {"https://quillon.example/p/news-24-brasilia.html", "NEWS 24 BRASILIA"},
        {"https://www.rioazul-tv.example/ao-vivo", "RIOAZUL TV"},
        {"https://stream.baltic-one.example/live", "BALTIC ONE"}};
    for (const auto& [address, label] : cases) EXPECT_EQ(channelLabel(address), label) << address;
}

// ---- Reachable pages ----------------------------------------------------

TEST(ReachableChannels, FollowTheScrollLimits) {
    struct Case {
        int first;
        long long lowest, highest;
    };
    // Consecutive pages: forward while the first number is below 1989, back
    // while it is above 1, four numbers per scroll.
    const Case cases[] = {
        {1, 1, 2004},    {5, 1, 2004},   {1989, 1, 2004}, {3, -1, 2006},
        {6, -2, 2005},   {1993, 1, 2008}, {0, 0, 2007},   {-7, -7, 2004},
    };
    for (const Case& c : cases) {
        std::vector<int> page(16);
        std::iota(page.begin(), page.end(), c.first);
        const std::vector<long long> numbers = reachableChannels(page);
        ASSERT_FALSE(numbers.empty()) << c.first;
        EXPECT_EQ(numbers.front(), c.lowest) << c.first;
        EXPECT_EQ(numbers.back(), c.highest) << c.first;
        EXPECT_EQ(numbers.size(), static_cast<size_t>(c.highest - c.lowest + 1)) << c.first;
    }
}

TEST(ReachableChannels, NonConsecutivePagesMoveEveryNumberByTheSameStep) {
    std::vector<int> page(16, 1989);
    page[15] = 5000;  // only the first number decides whether a scroll is allowed
    const std::vector<long long> numbers = reachableChannels(page);
    EXPECT_TRUE(std::binary_search(numbers.begin(), numbers.end(), 1LL));
    EXPECT_TRUE(std::binary_search(numbers.begin(), numbers.end(), 5000LL - 1988));
    EXPECT_FALSE(std::binary_search(numbers.begin(), numbers.end(), 5004LL));
    EXPECT_FALSE(std::binary_search(numbers.begin(), numbers.end(), 2LL));
}

TEST(ReachableChannels, APageFarOutsideTheCatalogueIsRefusedNotEnumerated) {
    std::vector<int> page(16, -2000000000);
    EXPECT_TRUE(reachableChannels(page).empty());
    EXPECT_TRUE(reachableChannels({}).empty());
}

TEST(DescribeNumbers, JoinsRunsAndCapsTheList) {
    EXPECT_EQ(describeNumbers({1, 2, 3, 5, 2001, 2002}), "1 to 3, 5, 2001 to 2002");
    EXPECT_EQ(describeNumbers({-1, 0}), "-1 to 0");
    EXPECT_EQ(describeNumbers({1, 3, 5, 7}, 2), "1, 3 and 2 more");
}

// ---- The generated root -------------------------------------------------

// A new empty folder, in memory when the machine offers a memory file system:
// a data root is thousands of small files.
std::string makeTemporaryFolder() {
    std::error_code code;
    const fs::path base =
        fs::is_directory("/dev/shm", code) && access("/dev/shm", W_OK) == 0
            ? fs::path("/dev/shm")
            : fs::temp_directory_path();
    std::string pattern = (base / "quillon-data-root-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

class GeneratedRoot : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = makeTemporaryFolder();
        std::string error;
        made = !folder.empty() && makeDataRoot(folder, textRoot, makeReplace, error, cardCache);
        EXPECT_TRUE(made) << folder << ": " << error;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }
    void SetUp() override { ASSERT_TRUE(made); }

    static std::string root() { return folder + "/VESTRALUME/"; }

    static std::string folder;
    static bool made;
};

std::string GeneratedRoot::folder;
bool GeneratedRoot::made = false;

TEST_F(GeneratedRoot, PassesTheChecker) {
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>());
}

TEST_F(GeneratedRoot, HoldsBothListsWithDistinctThumbnailsAndSpreadLinkNumbers) {
    for (int list = 1; list <= 2; ++list)
        for (int channel : {1, 2, 1290, 1291, 2004}) {
            const std::string base = root() + std::to_string(list) + "/" + std::to_string(channel);
            EXPECT_TRUE(fileExists(base + ".Quillon")) << base;
            EXPECT_EQ(readInt(base + ".txt"), (channel - 1) % 1290 + 1) << base;
        }
    EXPECT_FALSE(fileExists(root() + "1/2005.Quillon"));
    EXPECT_FALSE(fileExists(root() + "1/0.Quillon"));

    const std::string first = readFile(root() + "1/1.Quillon");
    EXPECT_NE(first, readFile(root() + "1/2.Quillon"));
    EXPECT_NE(first, readFile(root() + "1/1291.Quillon")) << "same link, still another channel";
    EXPECT_NE(first, readFile(root() + "2/1.Quillon")) << "favourite slots look different";
    EXPECT_NE(readFile(root() + "i/1.jpg"), readFile(root() + "i/17.jpg"));
}

TEST_F(GeneratedRoot, IsRewrittenOnlyAsAskedAndUpdateKeepsStateAndFavourites) {
    std::string error;
    EXPECT_FALSE(makeDataRoot(folder, textRoot, makeFresh, error, cardCache));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_NE(error.find("--force"), std::string::npos) << error;

    writeFile(root() + "n/b.txt", "7");
    writeFile(root() + "n/d.txt", "1");
    writeFile(root() + "2/1.Quillon", readFile(root() + "1/40.Quillon"));
    writeFile(root() + "n/7.txt", "damaged");
    fs::remove(root() + "1/40.Quillon");
    fs::remove(root() + "n/h.txt");

    ASSERT_TRUE(makeDataRoot(folder, textRoot, makeUpdate, error, cardCache)) << error;
    EXPECT_EQ(readFile(root() + "n/b.txt"), "7");
    EXPECT_EQ(readFile(root() + "n/d.txt"), "1");
    EXPECT_EQ(readFile(root() + "2/1.Quillon"), readFile(root() + "1/40.Quillon"));
    EXPECT_EQ(readFile(root() + "n/7.txt"), "7");
    EXPECT_EQ(readFile(root() + "n/h.txt"), "1") << "a missing state file is made again";

    ASSERT_TRUE(makeDataRoot(folder, textRoot, makeReplace, error, cardCache)) << error;
    EXPECT_EQ(readFile(root() + "n/b.txt"), "1");
    EXPECT_EQ(readFile(root() + "n/d.txt"), "0");
    EXPECT_NE(readFile(root() + "2/1.Quillon"), readFile(root() + "1/40.Quillon"));
    EXPECT_FALSE(fs::exists(folder + "/.VESTRALUME.partial"));
    EXPECT_FALSE(fs::exists(folder + "/.VESTRALUME.old"));
}

TEST(DataRootMaker, MissingTextDataIsReportedAndNothingIsWritten) {
    ScratchRoot empty;
    std::string error;
    EXPECT_FALSE(makeDataRoot(empty.folder() + "/target", empty.folder() + "/nowhere", makeFresh,
                              error, cardCache));
    EXPECT_NE(error.find("no text data"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(empty.folder() + "/target/VESTRALUME"));
}

// One way of breaking the generated root, undone after the check, and words
// the report must hold.
struct Breakage {
    const char* name;
    const char* file;        // relative to VESTRALUME/
    const char* content;     // nullptr: remove the file
    const char* expected;
};

const Breakage breakages[] = {
    {"missing template", "n/7.txt", nullptr, "VESTRALUME/n/7.txt is missing"},
    {"template with another number", "n/7.txt", "8", "should hold its own number 7"},
    {"non-numeric selected tile", "n/b.txt", "x1", "VESTRALUME/n/b.txt does not hold an integer"},
    {"selected tile out of range", "n/b.txt", "13", "must be 1 to 12"},
    {"wall scale not a number", "n/u.txt", "big", "VESTRALUME/n/u.txt does not hold a number"},
    {"short page", "n/z2.txt", "1 2 3", "VESTRALUME/n/z2.txt does not hold 16 channel numbers"},
    {"page reaching past the catalogue", "n/z1.txt",
     "1993\n1994\n1995\n1996\n1997\n1998\n1999\n2000\n2001\n2002\n2003\n2004\n2005\n2006\n2007\n2008",
     "no thumbnail for channel numbers 2005 to 2008"},
    {"page reaching below 1", "n/z2.txt", "3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18",
     "list 2 (VESTRALUME/2/): no thumbnail for channel numbers -1 to 0, 2005 to 2006"},
    {"thumbnail missing deep in the list", "1/1500.Quillon", nullptr,
     "no thumbnail for channel numbers 1500,"},
    {"damaged thumbnail", "2/9.Quillon", "not a jpeg", "thumbnails of channel numbers 9 are not"},
    {"link file missing", "1/77.txt", nullptr, "no link file for channel numbers 77"},
    {"link number outside the directory", "1/78.txt", "1291", "link files of channel numbers 78"},
    {"tile path naming a missing image", "n/n3.txt", "VESTRALUME/1/3000.Quillon",
     "names VESTRALUME/1/3000.Quillon, which is missing"},
    {"tile path file empty", "n/n3b.txt", "", "VESTRALUME/n/n3b.txt does not hold a path"},
    {"missing path file", "n/npt.txt", nullptr, "VESTRALUME/n/npt.txt is missing"},
    {"missing placeholder", "i/32.jpg", nullptr, "VESTRALUME/i/32.jpg is missing"},
    {"damaged selection texture", "t/b.jpg", "\xff\xd8\xff garbage",
     "VESTRALUME/t/b.jpg is not a readable JPEG image"},
    {"missing model", "n/mp.txt", nullptr, "VESTRALUME/n/mp.txt is missing (selection model)"},
    {"missing model image", "t/m.jpg", nullptr, "names the image VESTRALUME/t/m.jpg, which is missing"},
    {"missing material library", "n/rp.mtl", nullptr,
     "names the material library VESTRALUME/n/rp.mtl, which is missing"},
    {"tile model face without texture coordinates", "n/rp.txt",
     "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0 0\nf 1/1 2/1 3\n",
     "corner 3 has no texture coordinate, but the model is drawn with a texture"},
    {"face index beyond the vertices", "n/mp.txt", "v 0 0 0\nv 1 0 0\nvt 0 0 0\nf 1/1 2/1 3/1\n",
     "names vertex \"3\", but the file has 2"},
    {"duplicated link number", "links.tsv", "1\thttps://a.example/\n1\thttps://b.example/\n",
     "link number 1 was given before"},
};

TEST_F(GeneratedRoot, CheckerCatchesEachBreakage) {
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.name);
        const std::string file = root() + breakage.file;
        const bool existed = fileExists(file);
        const std::string saved = readFile(file);
        if (breakage.content)
            writeFile(file, breakage.content);
        else
            fs::remove(file);
        const std::vector<std::string> problems = checkDataRoot(folder);
        EXPECT_TRUE(mentions(problems, breakage.expected))
            << "expected \"" << breakage.expected << "\" in:\n"
            << testing::PrintToString(problems);
        if (existed) writeFile(file, saved);
    }
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>())
        << "the root was not restored";
}

// A model file and the exact report lines the checker gives for it: every
// rule of the model format, each fault in the checker's own words.
struct ModelFaults {
    const char* name;
    const char* file;  // relative to VESTRALUME/n/
    std::string content;
    std::vector<std::string> expected;  // every report line naming the file
};

TEST_F(GeneratedRoot, CheckerReportsEachModelFaultInItsOwnWords) {
    writeFile(root() + "n/long.mtl", "newmtl fine\nnewmtl twentycharacterslong\nnewmtl \n");
    const std::string w = "VESTRALUME/n/w.txt line ";
    const std::string mp = "VESTRALUME/n/mp.txt line ";
    const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const ModelFaults cases[] = {
        // Corners are split as the viewer splits them, by any run of blanks.
        {"corner counts and indices", "w.txt",
         triangle + "vt 0 0\nvn 0 0 1\n"
                    "f 1 2\n"
                    "f 1 2 3 1 2 3 1 2 3 1 2\n"
                    "f 1 2 3 1 2 3 1 2 3 1\n"
                    "f /1 2 3\n"
                    "f -1 +2 0\n"
                    "f 1/1/1/1 2 3\n"
                    "f a 2 3\n"
                    "f 123456789012 2 3\n"
                    "f 1//2 2/2 3/1/1\n"
                    "f 4 2 3 \n"
                    "f  1  2\t3\t\n",
         {w + "6: a face needs 3 to 10 corners", w + "7: a face needs 3 to 10 corners",
          w + "9: corner 1 has no vertex", w + "10: corner 1 names vertex \"-1\", but the file has 3",
          w + "10: corner 2 names vertex \"+2\", but the file has 3",
          w + "10: corner 3 names vertex \"0\", but the file has 3",
          w + "11: corner 1 has more than three indices",
          w + "12: corner 1 names vertex \"a\", but the file has 3",
          w + "13: corner 1 names vertex \"123456789012\", but the file has 3",
          w + "14: corner 1 names normal \"2\", but the file has 1",
          w + "14: corner 2 names texture coordinate \"2\", but the file has 1",
          w + "15: corner 1 names vertex \"4\", but the file has 3"}},
        {"numbers, materials, images and long lines", "w.txt",
         "# a comment\n\n" + triangle +
             "v 1 2\nvn 1\nvt 1\nvt 1 2\n"
             "mtllib VESTRALUME/n/long.mtl\n"
             "mtllib VESTRALUME/n/none.mtl\n"
             "usemtl fine\nusemtl elsewhere\n"
             "usemat (null)\nusemat VESTRALUME/t/none.jpg\n"
             "v " + std::string(260, '1') + "\n"
             "f 1 2 3\n",
         {w + "6 needs three numbers", w + "7 needs three numbers", w + "8 needs two or three numbers",
          "VESTRALUME/n/long.mtl line 2: a material name must have 1 to 19 characters",
          "VESTRALUME/n/long.mtl line 3: a material name must have 1 to 19 characters",
          "VESTRALUME/n/w.txt names the material library VESTRALUME/n/none.mtl, which is missing",
          w + "13: no material library read so far defines the material \"elsewhere\"",
          w + "15 names the image VESTRALUME/t/none.jpg, which is missing",
          w + "16 is longer than 254 characters"}},
        {"a drawn model needs texture coordinates, and normals where the file has them",
         "mp.txt", triangle + "vt 0 0\nvn 0 0 1\nf 1/1/1 2//1 3/1\n",
         {mp + "6: corner 2 has no texture coordinate, but the model is drawn with a texture",
          mp + "6: corner 3 has no normal, but the file gives normals"}},
        {"a drawn model without faces", "mp.txt", triangle,
         {"VESTRALUME/n/mp.txt has no faces to draw (selection model)"}},
    };
    for (const ModelFaults& model : cases) {
        SCOPED_TRACE(model.name);
        const std::string file = root() + "n/" + model.file;
        const std::string saved = readFile(file);
        writeFile(file, model.content);
        std::vector<std::string> found;
        for (const std::string& problem : checkDataRoot(folder))
            if (problem.find(std::string("VESTRALUME/n/") + model.file) != std::string::npos ||
                problem.find("long.mtl") != std::string::npos)
                found.push_back(problem);
        EXPECT_EQ(found, model.expected);
        writeFile(file, saved);
    }
    fs::remove(root() + "n/long.mtl");
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>()) << "the root was not restored";
}

TEST_F(GeneratedRoot, CheckerAcceptsLivePicturesFilesAndCatchesBrokenOnes) {
    fs::create_directories(root() + "live");
    writeFile(root() + "live.txt", "pictures off\ninterval 30\nwhatever else\n");
    const std::string card = readFile(root() + "1/3.Quillon");
    writeFile(root() + "live/1-3.jpg", card);
    for (const char* state : {"live", "refused", "timed out", "not found", "no video", "not a stream"})
        writeFile(root() + "live/1-3.txt", std::string(state) + "\t1796961379\n");
    writeFile(root() + "live/2-1.txt", "refused\t1796961379\n");
    writeFile(root() + "live/.1-3.jpg.99999.tmp", "half");
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>());

    const struct {
        const char* file;
        const char* content;
        const char* expected;
    } broken[] = {
        {"live/1-4.txt", "asleep\t1\n", "live/1-4.txt is not a live picture status"},
        {"live/1-5.txt", "live\n", "live/1-5.txt is not a live picture status"},
        {"live/1-6.jpg", "not a picture", "live/1-6.jpg is not a readable JPEG image"},
        {"live/notes.txt", "x", "live/notes.txt is not a file of live pictures"},
        {"live/3-1.txt", "live\t1\n", "live/3-1.txt is not a file of live pictures"},
        {"live/1-07.txt", "live\t1\n", "live/1-07.txt is not a file of live pictures"},
    };
    for (const auto& b : broken) {
        writeFile(root() + b.file, b.content);
        EXPECT_TRUE(mentions(checkDataRoot(folder), b.expected)) << b.file;
        fs::remove(root() + b.file);
    }
    fs::remove_all(root() + "live");
    fs::remove(root() + "live.txt");
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>());
}

TEST_F(GeneratedRoot, FavouriteSlotsAboveTheCountNeedNoLinkFile) {
    fs::rename(root() + "2/5.txt", root() + "2/5.keep");
    EXPECT_EQ(checkDataRoot(folder), std::vector<std::string>());
    writeFile(root() + "n/d.txt", "5");
    EXPECT_TRUE(mentions(checkDataRoot(folder), "no link file for channel numbers 5"));
    writeFile(root() + "n/d.txt", "0");
    fs::rename(root() + "2/5.keep", root() + "2/5.txt");
}

TEST(DataRootChecker, ReportsAMissingRoot) {
    ScratchRoot scratch;
    const std::vector<std::string> problems = checkDataRoot(scratch.folder() + "/elsewhere");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("missing"), std::string::npos);
}

}  // namespace

// The wall follows an import beside it by the count record's stamp, and
// keeps its page inside the new catalogue.
TEST(FollowedCatalogue, PageKeptInsideTheNewCount) {
    auto page = [](int first) {
        std::vector<int> numbers(16);
        std::iota(numbers.begin(), numbers.end(), first);
        return numbers;
    };
    struct Case {
        std::vector<int> page;
        int lastFirst;
        std::vector<int> kept;
    };
    const std::vector<int> uneven = {5, 9, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    const Case cases[] = {
        {page(1), 1, page(1)},           // a catalogue of one page
        {page(9), 21, page(9)},          // inside: stays, even as it is
        {uneven, 9, uneven},             // any page inside stays as it is
        {page(1989), 9, page(9)},        // past the last page: the last page
        {page(-3), 21, page(1)},         // before the first: the first
        {page(45), lastFirstChannelFor(3), page(1)},
    };
    for (const Case& c : cases) EXPECT_EQ(pageKeptInside(c.page, c.lastFirst), c.kept) << c.page[0];
}

TEST(FollowedCatalogue, StampChangesWithEveryNewCountRecordOnly) {
    ScratchRoot scratch;
    EXPECT_EQ(catalogueStamp(), "-");
    writeFile(channelCountFile, "30\n");
    const std::string first = catalogueStamp();
    EXPECT_NE(first, "-");
    EXPECT_EQ(catalogueStamp(scratch.folder()), first);
    // A card replaced inside the catalogue is not another catalogue.
    writeFile("VESTRALUME/1/1.Quillon", "card");
    EXPECT_EQ(catalogueStamp(), first);
    // A catalogue switched in brings its own record, written later.
    usleep(20000);
    writeFile("VESTRALUME/1/.count.new", "30\n");
    fs::rename("VESTRALUME/1/.count.new", channelCountFile);
    EXPECT_NE(catalogueStamp(), first);
}
