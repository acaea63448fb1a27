// Channel cards: the rules as plain functions (fitting a logo, logo
// addresses, the logo cache's records and plans, card cache keys, cleaning
// names), every logo format decoded and hostile files refused, names of every
// script set with no missing glyphs, and makeCards with local logos and its
// card cache. Also writes sample cards and a montage of them to
// <build>/card-samples/ for people to look at.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cards/cards.h"
#include "cards/cards_cache.h"
#include "cards/cards_draw.h"
#include "cards/cards_text.h"
#include "cards/logo_fetch.h"
#include "cards/logo_image.h"
#include "tests/support/scratch.h"
#include "tests/unit/card_fixtures.h"

namespace {

namespace fs = std::filesystem;

// Names of every script the cards must show, with their script.
const std::pair<const char*, const char*> scriptNames[] = {
    {"Latin", "Télévision Française 1"},
    {"Chinese", "中央电视台综合频道"},
    {"Arabic", "الجزيرة الإخبارية"},
    {"Cyrillic", "Первый канал"},
    {"Greek", "Ελληνική Ραδιοφωνία Τηλεόραση"},
    {"Hebrew", "ערוץ 12 חדשות"},
    {"Devanagari", "डीडी नेशनल"},
    {"Thai", "ช่อง 3 เอชดี"},
    {"Japanese", "日本テレビ放送網"},
    {"Korean", "한국방송공사 KBS 1TV"},
};

struct Pixel {
    int red, green, blue, alpha;
};

Pixel pixelAt(const RgbaImage& image, int x, int y) {
    const unsigned char* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

CardColour canvasAt(const CardCanvas& canvas, int x, int y) {
    const unsigned char* p = &canvas.pixels[(static_cast<size_t>(y) * canvas.width + x) * 3];
    return {p[0], p[1], p[2]};
}

bool near(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }

// The CRC-32 a PNG chunk ends with, over its type and data.
unsigned pngChecksum(const std::string& bytes) {
    unsigned crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

std::string fileBytes(const std::string& path) {
    std::string bytes, problem;
    readLimitedFile(path, 64u << 20, bytes, problem);
    return bytes;
}

// A folder of its own for a test, removed afterwards.
class CardFolder : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillon-cards-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fs::create_directories(folder + "/logos");
        fs::create_directories(folder + "/out");
        logos = cardfixtures::writeLogos(folder + "/logos");
        options.cacheFolder = folder + "/cache";
        options.network = false;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string logo(const std::string& name) const { return folder + "/logos/" + name; }
    std::string output(const std::string& name) const { return folder + "/out/" + name + ".jpg"; }

    std::string folder;
    std::vector<std::string> logos;
    CardOptions options;
};

// ---- Plain rules ---------------------------------------------------------

TEST(FitInside, KeepsTheAspectInsideTheBoxAndLimitsEnlargement) {
    struct Case {
        int width, height, boxWidth, boxHeight;
        double enlargement;
        int fitWidth, fitHeight;
    };
    const Case cases[] = {
        {400, 200, 232, 80, 3, 160, 80},  // wide: the height decides
        {100, 400, 232, 80, 3, 20, 80},   // tall
        {1000, 10, 232, 80, 3, 232, 2},   // a thin strip keeps a pixel row or two
        {50000, 1, 232, 80, 3, 232, 1},   // never less than one pixel
        {32, 32, 232, 80, 3, 80, 80},     // small: enlarged up to the box
        {16, 16, 232, 80, 3, 48, 48},     // tiny: enlarged three times at most
        {60, 30, 232, 80, 1e6, 160, 80},  // a drawing fills the box
        {232, 80, 232, 80, 3, 232, 80},   // exactly the box
        {0, 10, 232, 80, 3, 1, 1},        // no size at all
    };
    for (const Case& c : cases) {
        const FitSize fit = fitInside(c.width, c.height, c.boxWidth, c.boxHeight, c.enlargement);
        EXPECT_EQ(fit.width, c.fitWidth) << c.width << "x" << c.height;
        EXPECT_EQ(fit.height, c.fitHeight) << c.width << "x" << c.height;
    }
}

TEST(LogoAddresses, TellServersFilesAndEverythingElseApart) {
    struct Case {
        const char* logo;
        LogoPlace place;
        const char* location;  // or words of the problem
    };
    const Case cases[] = {
        {"", logoNowhere, ""},
        {"  \t ", logoNowhere, ""},
        {"http://logos.example/a.png", logoOnServer, "http://logos.example/a.png"},
        {" HTTPS://logos.example/b.svg\r", logoOnServer, "HTTPS://logos.example/b.svg"},
        {"https://logos.example/BBC One.png", logoOnServer, "https://logos.example/BBC%20One.png"},
        {"file:///srv/logos/a%20b.png", logoInFile, "/srv/logos/a b.png"},
        {"file://localhost/srv/a.png", logoInFile, "/srv/a.png"},
        {"file:/srv/a.png", logoInFile, "/srv/a.png"},
        {"file://fileserver/share/a.png", logoUnsupported, "other machines"},
        {"file:///srv/a%00.png", logoUnsupported, "names no file"},
        {"/home/me/logos/a.png", logoInFile, "/home/me/logos/a.png"},
        {"logos/a.png", logoInFile, "logos/a.png"},
        {"C:\\logos\\a.png", logoInFile, "C:\\logos\\a.png"},
        {"ftp://logos.example/a.png", logoUnsupported, "not ftp:"},
        {"data:image/png;base64,iVBORw0KGgo=", logoUnsupported, "not data:"},
        {"javascript:alert(1)", logoUnsupported, "not javascript:"},
        {"http://logos.example/a\x01.png", logoUnsupported, "control characters"},
    };
    for (const Case& c : cases) {
        const LogoAddress address = classifyLogo(c.logo);
        EXPECT_EQ(address.place, c.place) << c.logo;
        if (c.place == logoUnsupported)
            EXPECT_NE(address.problem.find(c.location), std::string::npos)
                << c.logo << ": " << address.problem;
        else
            EXPECT_EQ(address.location, c.location) << c.logo;
    }
    EXPECT_EQ(classifyLogo("https://a.example/" + std::string(5000, 'x')).place, logoUnsupported);
}

TEST(LogoRecords, ComeBackAsWrittenAndForeignTextIsNoRecord) {
    LogoRecord record;
    record.address = "https://logos.example/a.png?size=big";
    record.checked = 1700000000;
    record.etag = "W/\"abc def\"";
    record.modified = "Tue, 14 Nov 2023 22:13:20 GMT";
    record.contentType = "image/png";
    record.digest = std::string(64, 'f');
    LogoRecord read;
    ASSERT_TRUE(parseLogoRecord(formatLogoRecord(record), read));
    EXPECT_EQ(read.address, record.address);
    EXPECT_EQ(read.checked, record.checked);
    EXPECT_EQ(read.etag, record.etag);
    EXPECT_EQ(read.modified, record.modified);
    EXPECT_EQ(read.contentType, record.contentType);
    EXPECT_EQ(read.digest, record.digest);
    EXPECT_TRUE(read.failure.empty());

    // A server's header cannot add lines to the record.
    record.etag = "\"x\"\nfailure injected";
    ASSERT_TRUE(parseLogoRecord(formatLogoRecord(record), read));
    EXPECT_TRUE(read.failure.empty());

    for (const char* text :
         {"", "garbage", "address https://a.example/\n", "quillon logo record 1\nchecked 5\n"})
        EXPECT_FALSE(parseLogoRecord(text, read)) << text;
}

TEST(LogoFetchPlan, AsksServersOnlyWhenTheCacheIsStale) {
    CardOptions options;
    options.logoFreshSeconds = 1000;
    options.failureFreshSeconds = 100;
    LogoRecord good;
    good.address = "https://a.example/a.png";
    good.checked = 10000;
    LogoRecord failed = good;
    failed.failure = "the server answered 404";
    struct Case {
        const LogoRecord* record;
        bool cached;
        long long now;
        bool network;
        FetchPlan plan;
    };
    const Case cases[] = {
        {nullptr, false, 10000, true, planFetch},
        {&good, true, 10500, true, planUseCache},
        {&good, true, 11000, true, planFetch},   // stale: revalidated
        {&good, false, 10500, true, planFetch},  // bytes gone
        {&good, true, 9000, true, planFetch},    // the clock went back
        {&failed, false, 10050, true, planRememberFailure},
        {&failed, false, 10100, true, planFetch},
        {&good, true, 99999, false, planOffline},
        {nullptr, false, 10000, false, planOffline},
    };
    for (const Case& c : cases) {
        options.network = c.network;
        EXPECT_EQ(planLogoFetch(c.record, c.cached, c.now, options), c.plan)
            << (c.record ? c.record->failure : "no record") << " at " << c.now;
    }
}

TEST(CardCacheKeys, ChangeWithWhatTheCardShowsAndNothingElse) {
    const CardRequest base{"Канал 1", 7, "https://a.example/a.png", "/root/1/7.Quillon"};
    const std::string digest(64, 'a');
    const std::string key = cardCacheKey(base, digest);
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(key, cardCacheKey(base, digest)) << "the same card, the same key";

    CardRequest elsewhere = base;
    elsewhere.output = "/other/1/7.Quillon";
    elsewhere.logo = "https://mirror.example/a.png";
    EXPECT_EQ(cardCacheKey(elsewhere, digest), key) << "where the card goes and where its "
                                                       "logo came from are not shown";
    CardRequest renamed = base;
    renamed.name = "Канал 2";
    CardRequest renumbered = base;
    renumbered.number = 8;
    CardRequest coloured = base;
    coloured.background = 0x102030;
    // A name that ends like another key's fields does not meet it.
    CardRequest shifted = base;
    shifted.name = std::to_string(base.number) + "\n" + base.name;
    for (const CardRequest& changed : {renamed, renumbered, coloured})
        EXPECT_NE(cardCacheKey(changed, digest), key) << changed.name << changed.number;
    EXPECT_NE(cardCacheKey(base, std::string(64, 'b')), key) << "another logo";
    EXPECT_NE(cardCacheKey(base, ""), key) << "no logo";
    EXPECT_NE(cardCacheKey(shifted, digest), key);
}

TEST(CardText, CleaningRepairsAndFlattensNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"BBC One", "BBC One"},
        {"  News\t24\r\n HD ", "News 24 HD"},
        {"A\x01\x7f"
         "B",
         "AB"},
        {"Caf\xe9", "Caf\xef\xbf\xbd"},  // invalid UTF-8 repaired
        {"line\xe2\x80\xa8"
         "break",
         "line break"},  // a line separator
        {"\t \n", ""},
        // Bidirectional controls cannot reorder a name.
        {"\xe2\x80\xae" "gnp.exe live", "gnp.exe live"},
        {"a\xe2\x81\xa6" "b\xe2\x81\xa9" "c\xe2\x80\x8f" "d\xd8\x9c", "abcd"},
    };
    for (const auto& [name, clean] : cases) EXPECT_EQ(cleanText(name), clean) << name;
}

// ---- Type ----------------------------------------------------------------

TEST(CardText, EveryScriptHasItsGlyphs) {
    for (const auto& [script, name] : scriptNames)
        EXPECT_EQ(missingGlyphs(name), 0) << script << ": " << name;
    // The check itself: characters of the private use area are in no font.
    EXPECT_EQ(missingGlyphs("A\xee\x80\x80"
                            "B\xee\x80\x81"),
              2);
}

TEST(CardText, LongNamesWrapOrEndInAnEllipsisInsideTheirWidth) {
    const std::string longName =
        "A very long channel name that cannot fit on a card however small its type is set";
    const TextBlock wrapped = setText(longName, TextStyle{16, true, 200, 2});
    EXPECT_TRUE(wrapped.ellipsized);
    EXPECT_EQ(wrapped.lines, 2);
    EXPECT_LE(wrapped.boxWidth, 200);
    EXPECT_LE(wrapped.left + wrapped.width, 200 + 2) << "ink stays inside the width";

    const TextBlock word = setText(std::string(60, 'W'), TextStyle{16, true, 200, 3});
    EXPECT_GE(word.lines, 2) << "a word longer than the line is broken";
    EXPECT_LE(word.boxWidth, 200);

    const TextBlock shortName = setText("BBC One", TextStyle{16, true, 200, 2});
    EXPECT_FALSE(shortName.ellipsized);
    EXPECT_EQ(shortName.lines, 1);
    EXPECT_GT(shortName.width, 0);
    EXPECT_GT(shortName.height, 0);

    const TextBlock oneLine = setText(longName, TextStyle{15, true, 120, 1});
    EXPECT_TRUE(oneLine.ellipsized);
    EXPECT_EQ(oneLine.lines, 1);

    // Text whose ink runs far past its logical box (conjoining jamo have
    // almost no advance) is cut to its ink, with an ellipsis too; and so is
    // every other odd name, on one line and on several.
    std::string jamo, marks = "Z";
    for (int i = 0; i < 60; ++i) jamo += "\xe1\x84\x80";
    for (int i = 0; i < 80; ++i) marks += "\xcc\x81\xcd\x83";
    const std::string oddNames[] = {jamo, jamo + " " + jamo, marks + " News",
                                    "\xef\xb7\xbd \xef\xb7\xbd \xef\xb7\xbd \xef\xb7\xbd \xef\xb7\xbd",
                                    "\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1"
                                    "\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1"};
    for (const std::string& name : oddNames)
        for (const TextStyle& style : {TextStyle{22, true, 200, 1}, TextStyle{22, true, 200, 3}}) {
            SCOPED_TRACE(name.substr(0, 12) + " in " + std::to_string(style.maxLines) + " lines");
            const TextBlock block = setText(name, style);
            EXPECT_GT(block.width, 0);
            EXPECT_GE(block.left, -2) << "ink before the width's start";
            EXPECT_LE(block.left + block.width, 200 + 2) << "ink past the width's end";
        }
    const TextBlock cutJamo = setText(jamo, TextStyle{22, true, 200, 1});
    EXPECT_TRUE(cutJamo.ellipsized);
}

TEST(CardText, ArabicIsShapedIntoJoinedLetters) {
    // The same letters kept apart by zero-width non-joiners take their
    // isolated forms, which are wider than the joined word.
    const std::string joined = "\xd8\xb3\xd9\x84\xd8\xa7\xd9\x85";  // salaam
    const std::string apart =
        "\xd8\xb3\xe2\x80\x8c\xd9\x84\xe2\x80\x8c\xd8\xa7\xe2\x80\x8c\xd9\x85";
    EXPECT_LT(setText(joined, TextStyle{20, true, 0, 1}).boxWidth,
              setText(apart, TextStyle{20, true, 0, 1}).boxWidth);
}

TEST(CardText, CharactersNoFontHasAreLeftOutNotDrawnAsBoxes) {
    CardRequest plain{"ABC", 4, "", ""};
    CardRequest unknown{
        "AB\xee\x80\x80"
        "C",
        4, "", ""};
    EXPECT_EQ(drawCard(unknown, nullptr).pixels, drawCard(plain, nullptr).pixels);
}

// ---- Decoding logos ------------------------------------------------------

TEST_F(CardFolder, EveryLogoFormatDecodesToRgbaFittedToTheBox) {
    const char* expected[] = {"alpha.png", "palette.png",     "grey.png",
                              "deep.png",  "progressive.jpg", "cmyk.jpg",
                              "logo.webp", "animated.gif",    "drawing.svg"};
    for (const char* name : expected) {
        SCOPED_TRACE(name);
        ASSERT_NE(std::find(logos.begin(), logos.end(), name), logos.end())
            << "the fixture could not be written";
        RgbaImage image;
        std::string problem;
        ASSERT_TRUE(decodeLogo(fileBytes(logo(name)), logoBoxWidth, logoBoxHeight, image, problem))
            << problem;
        EXPECT_EQ(image.width, 160);
        EXPECT_EQ(image.height, 80);
        ASSERT_EQ(image.pixels.size(), 160u * 80 * 4);
        const Pixel centre = pixelAt(image, 80, 40);
        const std::string file = name;
        if (file == "grey.png") {
            EXPECT_TRUE(near(centre.red, centre.green, 2) && near(centre.green, centre.blue, 2));
            EXPECT_LT(centre.red, 120);
        } else {
            // Red, the first frame of the animation (its second is blue).
            const int tolerance = file == "cmyk.jpg" ? 60 : 24;
            EXPECT_TRUE(near(centre.red, 200, tolerance) && near(centre.green, 30, tolerance) &&
                        near(centre.blue, 30, tolerance))
                << centre.red << " " << centre.green << " " << centre.blue;
        }
        EXPECT_EQ(centre.alpha, 255);
        const Pixel corner = pixelAt(image, 2, 2);
        const bool transparent = file == "alpha.png" || file == "palette.png" ||
                                 file == "deep.png" || file == "logo.webp" ||
                                 file == "animated.gif" || file == "drawing.svg";
        if (transparent)
            EXPECT_EQ(corner.alpha, 0);
        else
            EXPECT_TRUE(corner.alpha == 255 && corner.red > 230) << corner.red;
    }
}

TEST_F(CardFolder, HostileAndForeignFilesAreRefusedWithAReason) {
    // The PNG logo with its header claiming 50,000 x 50,000 pixels: a
    // decompression bomb, refused from its header.
    const std::string alpha = fileBytes(logo("alpha.png"));
    ASSERT_GT(alpha.size(), 33u);
    std::string header = alpha.substr(12, 17);  // "IHDR" and its 13 bytes
    for (int field = 0; field < 2; ++field)
        for (int b = 0; b < 4; ++b)
            header[4 + 4 * field + b] = static_cast<char>(50000u >> (24 - 8 * b));
    const unsigned sum = pngChecksum(header);
    std::string bomb = alpha.substr(0, 12) + header;
    for (int b = 0; b < 4; ++b) bomb.push_back(static_cast<char>(sum >> (24 - 8 * b)));
    bomb += alpha.substr(33);

    VipsImage* tiffSource = cardfixtures::imageOf(cardfixtures::logoPixels(false), 240, 120, 3);
    void* tiff = nullptr;
    size_t tiffSize = 0;
    ASSERT_EQ(vips_tiffsave_buffer(tiffSource, &tiff, &tiffSize, nullptr), 0);
    const std::string tiffBytes(static_cast<const char*>(tiff), tiffSize);
    g_free(tiff);
    g_object_unref(tiffSource);

    const std::pair<std::string, const char*> cases[] = {
        {bomb, "50000 x 50000"},
        {tiffBytes, "format logos do not come in"},
        {"<!doctype html><title>404</title>", "not an image"},
        {alpha.substr(0, 120), "cannot be decoded"},
        {"", "empty"},
    };
    for (const auto& [bytes, words] : cases) {
        RgbaImage image;
        std::string problem;
        EXPECT_FALSE(decodeLogo(bytes, logoBoxWidth, logoBoxHeight, image, problem)) << words;
        EXPECT_NE(problem.find(words), std::string::npos) << problem;
        EXPECT_TRUE(image.pixels.empty());
    }
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when unknown.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    return 0;
}

// Runs `action` in a child as runWithin does, and fails it (1) when the
// child's peak resident memory grew by more than `maxMiB` on the way.
int runWithinMemory(double seconds, long maxMiB, const std::function<int()>& action) {
    return runWithin(seconds, [&] {
        // Forgets the peak the child inherited: from here on, VmHWM is the
        // child's own.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long start = statusKiB("VmRSS");
        const int status = action();
        const long grown = (statusKiB("VmHWM") - start) / 1024;
        if (grown > maxMiB) std::fprintf(stderr, "peak memory grew by %ld MiB\n", grown);
        return grown > maxMiB ? 1 : status;
    });
}

// Drawings that declare a huge size in a few bytes: each is refused from its
// declared size within a second or so, its peak memory grown by less than
// 300 MiB, and its card is a name card within 5 s.
TEST_F(CardFolder, DrawingBombsAreRefusedFromTheirDeclaredSize) {
    const char* const svg = "<svg xmlns='http://www.w3.org/2000/svg' width='%s' height='%s'>%s</svg>";
    struct Case {
        const char* width;
        const char* height;
        const char* content;
        const char* words;
    };
    const Case cases[] = {
        {"100000", "100000", "<rect width='100%' height='100%' fill='red'/>", "more than a logo may have"},
        {"1000000", "1000000",
         "<filter id='f'><feTurbulence baseFrequency='0.05' numOctaves='8'/></filter>"
         "<rect width='100%' height='100%' filter='url(#f)'/>",
         "more than a logo may have"},
        {"5000000", "2", "<rect width='100%' height='100%' fill='red'/>", "too large to draw"},
    };
    for (const Case& c : cases) {
        char text[512];
        std::snprintf(text, sizeof text, svg, c.width, c.height, c.content);
        const std::string bytes = text;
        const int status = runWithinMemory(5, 300, [&] {
            RgbaImage image;
            std::string problem;
            const bool decoded = decodeLogo(bytes, logoBoxWidth, logoBoxHeight, image, problem);
            return !decoded && problem.find(c.words) != std::string::npos ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << c.width << " x " << c.height;
        cardfixtures::writeText(folder + "/logos/bomb.svg", bytes);
        const int card = runWithinMemory(5, 300, [&] {
            const std::vector<CardResult> made =
                makeCards({{"Bomb", 1, logo("bomb.svg"), output("bomb")}}, options);
            return made.size() == 1 && made[0].written && made[0].logo == logoFailed ? 0 : 1;
        });
        EXPECT_EQ(card, 0) << c.width << " x " << c.height << ": a name card";
    }
    // A drawing of ordinary size still draws.
    RgbaImage image;
    std::string problem;
    EXPECT_TRUE(decodeLogo(fileBytes(logo("drawing.svg")), logoBoxWidth, logoBoxHeight, image, problem)) << problem;
}

// Every logo has a time to be drawn in: one that runs past it (here, a
// photo of 36 million pixels of noise and a time already over) is stopped
// between tiles and fails, for a name card; with the usual time it draws.
TEST_F(CardFolder, ALogoPastItsTimeIsStoppedAndFails) {
    VipsImage* noise = nullptr;
    ASSERT_EQ(vips_gaussnoise(&noise, 6000, 6000, "mean", 128.0, "sigma", 60.0, nullptr), 0);
    VipsImage* grey = nullptr;
    ASSERT_EQ(vips_cast_uchar(noise, &grey, nullptr), 0);
    void* buffer = nullptr;
    size_t length = 0;
    ASSERT_EQ(vips_jpegsave_buffer(grey, &buffer, &length, "Q", 90, nullptr), 0);
    const std::string photo(static_cast<const char*>(buffer), length);
    g_free(buffer);
    g_object_unref(grey);
    g_object_unref(noise);

    RgbaImage image;
    std::string problem;
    EXPECT_FALSE(decodeLogo(photo, logoBoxWidth, logoBoxHeight, image, problem, 0));
    EXPECT_NE(problem.find("took longer than"), std::string::npos) << problem;
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_TRUE(decodeLogo(photo, logoBoxWidth, logoBoxHeight, image, problem)) << problem;
}

// The temporary files a killed run left in the cache go at the next run;
// those of a run that goes on (this one), and other names, stay.
TEST_F(CardFolder, TemporaryFilesOfEndedRunsAreRemovedAtTheNextRun) {
    const std::string cards = folder + "/cache/cards";
    fs::create_directories(cards);
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    int status = 0;
    waitpid(ended, &status, 0);
    const std::string mine = std::to_string(getpid());
    const std::string gone = std::to_string(ended);
    struct Case {
        std::string name;
        bool removed;
    };
    const Case cases[] = {
        {"abc.jpg.tmp-" + gone + "-0", true},   {"abc.jpg.tmp-" + gone + "-17", true},
        {"abc.jpg.tmp-" + mine + "-3", false},  {"abc.jpg", false},
        {"abc.jpg.tmp-" + gone, false},         {"abc.jpg.tmp-x-1", false},
    };
    for (const Case& c : cases) cardfixtures::writeText(cards + "/" + c.name, "");
    makeCards({{"Name", 1, "", output("1")}}, options);
    for (const Case& c : cases) EXPECT_EQ(fs::exists(cards + "/" + c.name), !c.removed) << c.name;
}

// ---- Drawing cards -------------------------------------------------------

TEST(CardDrawing, LogosSitOnAPlateThatSetsThemOff) {
    // A block of `shade` in the middle of a ground that is transparent
    // (alpha < 0) or opaque of that grey.
    auto logoOf = [](unsigned char shade, int ground) {
        RgbaImage logo;
        logo.width = 40;
        logo.height = 20;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool block = x >= 10 && x < 30 && y >= 5 && y < 15;
                const unsigned char grey =
                    block ? shade : static_cast<unsigned char>(std::max(0, ground));
                const unsigned char alpha = block || ground >= 0 ? 255 : 0;
                logo.pixels.insert(logo.pixels.end(), {grey, grey, grey, alpha});
            }
        return logo;
    };
    auto plateOf = [](const RgbaImage& logo) {
        return luminance(canvasAt(drawCard(CardRequest{"Name", 1, "", ""}, &logo), 6, 6));
    };
    EXPECT_GT(plateOf(logoOf(20, -1)), 0.8) << "a dark drawing on the light plate";
    EXPECT_LT(plateOf(logoOf(250, -1)), 0.3) << "white lettering on the dark plate";
    EXPECT_GT(plateOf(logoOf(20, 255)), 0.8) << "a logo on white: the light plate";
    EXPECT_LT(plateOf(logoOf(250, 10)), 0.3) << "a logo on black: the dark plate";
    RgbaImage invisible;
    invisible.width = invisible.height = 4;
    invisible.pixels.assign(4 * 4 * 4, 0);
    EXPECT_TRUE(wantsLightPlate(invisible)) << "a logo that shows nothing";

    RgbaImage halfSeen;
    halfSeen.width = 2;
    halfSeen.height = 1;
    halfSeen.pixels = {255, 255, 255, 0, 0, 0, 0, 255};  // invisible white, black
    EXPECT_NEAR(visibleLuminance(halfSeen), 0.0, 1e-9) << "only what shows counts";
}

TEST(CardDrawing, NameCardsTakeTheirNumbersColourOrTheGivenOne) {
    const CardCanvas seven = drawCard(CardRequest{"Name", 7, "", ""}, nullptr);
    const CardCanvas eight = drawCard(CardRequest{"Name", 8, "", ""}, nullptr);
    EXPECT_EQ(seven.width, cardWidth);
    EXPECT_EQ(seven.height, cardHeight);
    const CardColour a = canvasAt(seven, 6, 64), b = canvasAt(eight, 6, 64);
    EXPECT_FALSE(near(a.red, b.red, 20) && near(a.green, b.green, 20) && near(a.blue, b.blue, 20))
        << "neighbouring numbers look different";
    CardRequest given{"Name", 7, "", ""};
    given.background = 0x2050a0;
    const CardColour c = canvasAt(drawCard(given, nullptr), 6, 64);
    EXPECT_TRUE(near(c.red, 0x20, 24) && near(c.green, 0x50, 24) && near(c.blue, 0xa0, 24))
        << int(c.red) << " " << int(c.green) << " " << int(c.blue);
}

// A name that draws nothing (only controls, only characters no font has)
// shows the channel's number in its place, on both kinds of card.
TEST(CardDrawing, ANameThatDrawsNothingShowsTheNumber) {
    const RgbaImage logo{8, 4, std::vector<unsigned char>(8 * 4 * 4, 200)};
    for (const char* name : {"\xe2\x80\xae\xe2\x81\xa6", "\xee\x80\x80\xee\x80\x81", "\xf3\xb0\x80\x80"}) {
        for (const RgbaImage* withLogo : {static_cast<const RgbaImage*>(nullptr), &logo}) {
            const CardCanvas blank = drawCard(CardRequest{name, 42, "", ""}, withLogo);
            const CardCanvas number = drawCard(CardRequest{"42", 42, "", ""}, withLogo);
            EXPECT_TRUE(blank.pixels == number.pixels) << name << (withLogo ? " with a logo" : "");
        }
    }
}

// ---- Making cards --------------------------------------------------------

TEST_F(CardFolder, LocalLogosMakeCardsAndUnchangedCardsAreCopiedNotRedrawn) {
    fs::copy_file(logo("alpha.png"), folder + "/logos/second.png");
    cardfixtures::writeText(folder + "/logos/notes.txt", "not a picture");
    std::vector<CardRequest> cardRequests = {
        {"Alpha", 1, logo("alpha.png"), output("1")},
        {"Same logo, other name", 2, "file://" + logo("alpha.png"), output("2")},
        {"Second", 3, logo("second.png"), output("3")},
        {"No logo", 4, "", output("4")},
        {"Missing", 5, logo("missing.png"), output("5")},
        {"Text file", 6, logo("notes.txt"), output("6")},
        {"Old scheme", 7, "gopher://logos.example/a.png", output("7")},
        {"Offline", 8, "https://logos.example/a.png", output("8")},
    };
    std::vector<CardResult> first = makeCards(cardRequests, options);
    ASSERT_EQ(first.size(), cardRequests.size());
    const LogoOutcome outcomes[] = {logoFetched, logoFetched, logoFetched, logoNone,
                                    logoFailed,  logoFailed,  logoFailed,  logoFailed};
    const char* problems[] = {
        "", "", "", "", "No such file", "not an image", "not gopher:", "offline"};
    std::vector<std::string> bytes;
    for (size_t i = 0; i < cardRequests.size(); ++i) {
        SCOPED_TRACE(cardRequests[i].name);
        EXPECT_TRUE(first[i].written) << first[i].problem;
        EXPECT_EQ(first[i].logo, outcomes[i]);
        EXPECT_NE(first[i].problem.find(problems[i]), std::string::npos) << first[i].problem;
        bytes.push_back(fileBytes(cardRequests[i].output));
        ASSERT_GT(bytes.back().size(), 1000u);
        EXPECT_EQ(bytes.back().substr(0, 2), "\xff\xd8");
    }
    EXPECT_NE(bytes[0], bytes[2]) << "other names, other cards";
    EXPECT_TRUE(first[0].remade);

    // Again: every card copied from the card cache, not a byte different,
    // the failures reported as before.
    for (const CardRequest& request : cardRequests) fs::remove(request.output);
    const std::vector<CardResult> second = makeCards(cardRequests, options);
    for (size_t i = 0; i < cardRequests.size(); ++i) {
        SCOPED_TRACE(cardRequests[i].name);
        EXPECT_FALSE(second[i].remade);
        EXPECT_EQ(second[i].logo, first[i].logo);
        EXPECT_EQ(second[i].problem, first[i].problem);
        EXPECT_EQ(fileBytes(cardRequests[i].output), bytes[i]);
    }

    // A card whose logo changed is drawn again; the others are not.
    fs::copy_file(logo("progressive.jpg"), folder + "/logos/second.png",
                  fs::copy_options::overwrite_existing);
    const std::vector<CardResult> third = makeCards(cardRequests, options);
    for (size_t i = 0; i < cardRequests.size(); ++i) EXPECT_EQ(third[i].remade, i == 2) << i;
    EXPECT_NE(fileBytes(cardRequests[2].output), bytes[2]);

    // Drawn again without the cache, a card comes out the same, byte for byte.
    options.cacheFolder = folder + "/other-cache";
    const std::vector<CardResult> fresh = makeCards({cardRequests[0]}, options);
    EXPECT_TRUE(fresh[0].remade);
    EXPECT_EQ(fileBytes(cardRequests[0].output), bytes[0]);
}

TEST_F(CardFolder, ACardThatCannotBeWrittenSaysWhy) {
    const std::vector<CardResult> results =
        makeCards({{"Nowhere", 1, "", folder + "/no-such-folder/1.jpg"}}, options);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].written);
    EXPECT_NE(results[0].problem.find("cannot write " + folder + "/no-such-folder/1.jpg"),
              std::string::npos)
        << results[0].problem;
    EXPECT_TRUE(makeCards({}, options).empty());
}

TEST_F(CardFolder, AnUnusableCacheFolderOnlyCostsTheCache) {
    cardfixtures::writeText(folder + "/not-a-folder", "");
    options.cacheFolder = folder + "/not-a-folder";
    const std::vector<CardRequest> cardRequests = {{"Alpha", 1, logo("alpha.png"), output("1")},
                                         {"Name", 2, "", output("2")}};
    for (int run = 0; run < 2; ++run)
        for (const CardResult& result : makeCards(cardRequests, options)) {
            EXPECT_TRUE(result.written) << result.problem;
            EXPECT_TRUE(result.remade) << "nothing was cached";
        }
    EXPECT_TRUE(fs::is_regular_file(folder + "/not-a-folder"));
}

TEST_F(CardFolder, CachedFilesUnusedForMonthsAreRemoved) {
    const std::vector<CardRequest> cardRequests = {{"Alpha", 1, logo("alpha.png"), output("1")}};
    makeCards(cardRequests, options);
    const std::string cards = options.cacheFolder + "/cards";
    cardfixtures::writeText(cards + "/forgotten.jpg", "old");
    cardfixtures::writeText(options.cacheFolder + "/logos/forgotten.logo", "old");
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 90);
    for (const char* file : {"/cards/forgotten.jpg", "/logos/forgotten.logo"})
        fs::last_write_time(options.cacheFolder + file, longAgo);
    // The clean-up runs at most once a day: make its last run long ago too.
    for (const char* stamp : {"/cards/.pruned", "/logos/.pruned"})
        fs::last_write_time(options.cacheFolder + stamp, longAgo);
    // A card used long ago is kept when it is used now.
    std::string used;
    for (const auto& entry : fs::directory_iterator(cards))
        if (entry.path().extension() == ".jpg" && entry.path().filename() != "forgotten.jpg") {
            used = entry.path().string();
            fs::last_write_time(used, longAgo);
        }
    ASSERT_FALSE(used.empty());

    const std::vector<CardResult> results = makeCards(cardRequests, options);
    EXPECT_FALSE(results[0].remade);
    EXPECT_FALSE(fs::exists(cards + "/forgotten.jpg"));
    EXPECT_FALSE(fs::exists(options.cacheFolder + "/logos/forgotten.logo"));
    EXPECT_TRUE(fs::exists(used));
}

TEST_F(CardFolder, ProgressComesFromTheCallingThreadAndEndsComplete) {
    std::vector<CardRequest> cardRequests;
    for (int n = 1; n <= 40; ++n)
        cardRequests.push_back({"Channel " + std::to_string(n), n, n % 2 ? logo("alpha.png") : "",
                         output(std::to_string(n))});
    const std::thread::id caller = std::this_thread::get_id();
    CardProgress last;
    bool otherThread = false;
    makeCards(cardRequests, options, [&](const CardProgress& progress) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        last = progress;
    });
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(last.total, cardRequests.size());
    EXPECT_EQ(last.done, cardRequests.size());
    EXPECT_EQ(last.made, cardRequests.size());
    EXPECT_EQ(last.fetched, cardRequests.size() / 2) << "local logos count as fetched";
    EXPECT_EQ(last.failed, 0u);
}

// Cards for people to look at: a name in each script, long names, and a wall
// of logos of every format (and logos that fail), joined into
// <build>/card-samples/montage.png.
TEST_F(CardFolder, SampleCardsAndTheirMontageAreWritten) {
    const std::string samples = std::string(QUILLON_BINARY_DIR) + "/card-samples";
    fs::remove_all(samples);
    fs::create_directories(samples);
    std::vector<CardRequest> cardRequests;
    int number = 0;
    auto add = [&](const std::string& name, const std::string& logoPath) {
        ++number;
        char file[32];
        std::snprintf(file, sizeof file, "/%02d.jpg", number);
        cardRequests.push_back({name, number, logoPath, samples + file});
    };
    for (const auto& [script, name] : scriptNames) add(name, "");
    add("A channel with a name far too long for any card, however small its type is set", "");
    add("Supercalifragilisticexpialidociouschannelwithoutanyspaces", "");
    add("A&E <Live> \"HD\"", "");
    add("Канал 24 · 🎬", "");
    // Odd names: each stays on its card, none reorders itself, and one
    // that draws nothing shows its number.
    std::string marks = "Z";
    for (int i = 0; i < 80; ++i) marks += "\xcc\x81\xcd\x83";
    std::string jamo;
    for (int i = 0; i < 60; ++i) jamo += "\xe1\x84\x80";
    add("\xe2\x80\xae" "gnp.exe live", "");
    add(marks + " News", "");
    add("\xef\xb7\xbd \xef\xb7\xbd \xef\xb7\xbd", "");
    add("\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1\xf0\x92\x80\xb1", "");
    add(jamo, "");
    add("\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7", "");
    add("\xee\x80\x80\xee\x80\x81", "");
    add(marks + " under a logo", logo("alpha.png"));
    const char* formats[] = {"alpha.png", "palette.png",     "grey.png",
                             "deep.png",  "progressive.jpg", "cmyk.jpg",
                             "logo.webp", "animated.gif",    "drawing.svg"};
    size_t script = 0;
    for (const char* format : formats)
        add(scriptNames[script++ % std::size(scriptNames)].second, logo(format));
    add("Logo file missing", logo("missing.png"));
    add("A long name under a logo that has to end in an ellipsis", logo("alpha.png"));
    add("100000", logo("drawing.svg"));
    cardRequests.back().number = 100000;
    const std::vector<CardResult> results = makeCards(cardRequests, options);
    for (size_t i = 0; i < results.size(); ++i)
        ASSERT_TRUE(results[i].written) << cardRequests[i].name << ": " << results[i].problem;

    std::vector<VipsImage*> cards;
    for (const CardRequest& request : cardRequests) {
        VipsImage* card = vips_image_new_from_file(request.output.c_str(), nullptr);
        ASSERT_NE(card, nullptr) << request.output;
        EXPECT_EQ(vips_image_get_width(card), cardWidth);
        EXPECT_EQ(vips_image_get_height(card), cardHeight);
        cards.push_back(card);
    }
    VipsImage* montage = nullptr;
    VipsArrayDouble* background = vips_array_double_newv(1, 40.0);
    ASSERT_EQ(vips_arrayjoin(cards.data(), &montage, static_cast<int>(cards.size()), "across", 4,
                             "shim", 8, "background", background, nullptr),
              0);
    vips_area_unref(VIPS_AREA(background));
    EXPECT_EQ(vips_pngsave(montage, (samples + "/montage.png").c_str(), nullptr), 0);
    g_object_unref(montage);
    for (VipsImage* card : cards) g_object_unref(card);
}

}  // namespace
