// Programme guides: XMLTV times with their offsets, channel names as they
// are matched, tvg-shift; a guide read and indexed and asked for now and
// next (by tvg-id, by display name, shifted); the playlist's guide
// addresses; hostile guides refused with a message, in bounded memory, the
// previous index kept; cards with programme lines.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "cards/cards.h"
#include "cards/cards_cache.h"
#include "guide/guide.h"
#include "guide/guide_index.h"
#include "guide/guide_root.h"
#include "import/playlist.h"
#include "tests/support/scratch.h"

namespace {

namespace fs = std::filesystem;

// 2026-12-11 12:00:00 UTC
constexpr long long noon = 1796990400;

std::string stamp(long long seconds, const char* offset = "+0000") {
    // The time as it reads in the zone of `offset`.
    const int sign = offset[0] == '-' ? -1 : 1;
    const long long shift = sign * ((offset[1] - '0') * 36000 + (offset[2] - '0') * 3600 +
                                    (offset[3] - '0') * 600 + (offset[4] - '0') * 60);
    const time_t local = static_cast<time_t>(seconds + shift);
    struct tm parts {};
    gmtime_r(&local, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &parts);
    return std::string(text) + " " + offset;
}

std::string programme(const std::string& channel, long long start, long long stop,
                      const std::string& title, const char* offset = "+0000") {
    return "<programme start=\"" + stamp(start, offset) + "\" stop=\"" + stamp(stop, offset) +
           "\" channel=\"" + channel + "\"><title lang=\"en\">" + title +
           "</title><desc>about it</desc></programme>\n";
}

void writeGzip(const std::string& path, const std::string& bytes) {
    gzFile file = gzopen(path.c_str(), "wb9");
    ASSERT_NE(file, nullptr);
    gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size()));
    gzclose(file);
}

long peakKiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(GuideTime, OffsetsAndForms) {
    const struct {
        const char* text;
        long long expected;  // -1: refused
    } cases[] = {
        {"20261211120000 +0000", noon},
        {"20261211070000 -0500", noon},
        {"20261211173000 +0530", noon},
        {"20261211120000", noon},
        {"202612111200 +0000", noon},
        {"20261211", noon - 12 * 3600},
        {"20261211130000 +0100", noon},
        {"20261231235959 -1200", 1798761599 + 12 * 3600},
        {"20261311120000 +0000", -1},
        {"2026121112 +00", -1},
        {"20261211120000 +0000 junk", -1},
        {"", -1},
        {"tomorrow", -1},
    };
    for (const auto& c : cases) {
        const std::optional<long long> parsed = parseGuideTime(c.text);
        if (c.expected < 0) {
            EXPECT_FALSE(parsed) << c.text;
        } else {
            EXPECT_EQ(parsed.value_or(-1), c.expected) << c.text;
        }
    }
}

TEST(GuideTime, ChannelNamesAndShifts) {
    const std::pair<const char*, const char*> names[] = {
        {"BBC One HD", "bbcone"},   {"bbc.one", "bbcone"},     {"BBC One FHD", "bbcone"},
        {"  BBC-ONE ", "bbcone"},   {"HD", "hd"},              {"Das Erste", "daserste"},
        {"Первый канал HD", "Первыйканал"}, {"TF1 UHD", "tf1"}, {"Shahd", "shahd"},
    };
    for (const auto& [name, expected] : names)
        EXPECT_EQ(normalisedChannelName(name), expected) << name;
    const std::pair<const char*, long long> shifts[] = {
        {"+2", 7200}, {"-1", -3600}, {"1.5", 5400}, {"0", 0}, {"", 0}, {"abc", 0}, {"99", 0}, {"-5.5", -19800},
    };
    for (const auto& [text, seconds] : shifts) EXPECT_EQ(guideShiftSeconds(text), seconds) << text;
}

TEST(GuidePlaylist, HeaderAddressesAndChannelAttributes) {
    std::vector<std::string> guides;
    std::vector<PlaylistEntry> entries;
    PlaylistSinks sinks;
    sinks.guide = [&](const std::string& address) { guides.push_back(address); };
    sinks.entry = [&](PlaylistEntry& entry) { entries.push_back(entry); };
    readPlaylist(
        "#EXTM3U url-tvg=\"http://a.example/one.xml.gz, http://a.example/two.xml\" "
        "x-tvg-url=\"http://b.example/three.xml.xz\"\n"
        "#EXTINF:-1 tvg-id=\"bbc1.uk\" tvg-shift=\"+1\" tvg-name=\"BBC One\",BBC One +1\n"
        "http://stream.example/1\n"
        "#EXTINF:-1,No Guide\nhttp://stream.example/2\n",
        sinks);
    EXPECT_EQ(guides, (std::vector<std::string>{"http://a.example/one.xml.gz",
                                                "http://a.example/two.xml",
                                                "http://b.example/three.xml.xz"}));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].tvgId, "bbc1.uk");
    EXPECT_EQ(entries[0].tvgShift, "+1");
    EXPECT_EQ(entries[1].tvgId, "");
}

// A guide around noon: channels by id and by display name, offsets of
// three zones, a programme without a stop.
std::string sampleGuide() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
           "<tv generator-info-name=\"test\">\n"
           "<channel id=\"One.uk\"><display-name>BBC One</display-name></channel>\n"
           "<channel id=\"arte.fr\"><display-name lang=\"fr\">Arte</display-name>"
           "<display-name>ARTE HD</display-name></channel>\n"
           "<channel id=\"delhi.in\"><display-name>DD National</display-name></channel>\n" +
           programme("One.uk", noon - 1800, noon + 1800, "Midday News") +
           programme("One.uk", noon + 1800, noon + 3600, "Afternoon &amp; Tea") +
           programme("One.uk", noon - 5400, noon - 1800, "Morning") +
           programme("arte.fr", noon - 600, noon + 600, "Le Journal", "-0500") +
           programme("arte.fr", noon + 600, noon + 4200, "Документальный фильм", "-0500") +
           programme("delhi.in", noon - 3600, noon + 60, "समाचार", "+0530") +
           "<programme start=\"" + stamp(noon + 60, "+0530") +
           "\" channel=\"delhi.in\"><title>खेल</title></programme>\n"
           "<programme start=\"" + stamp(noon + 7200) + "\" channel=\"delhi.in\"><title>Late</title></programme>\n" +
           programme("far.away", noon + 30 * 86400, noon + 30 * 86400 + 60, "Next month") +
           "</tv>\n";
}

struct IndexedGuide {
    ScratchRoot scratch;
    std::string index = (fs::path(scratch.folder()) / "guide.sqlite").string();
};

TEST(GuideIndex, NowAndNextByIdNameAndShift) {
    IndexedGuide guide;
    writeGzip("guide.xml.gz", sampleGuide());
    GuideBuildOptions options;
    options.now = noon;
    std::vector<std::string> problems;
    const GuideBuildResult built = buildGuideIndex(
        guide.index, {"guide.xml.gz"}, options,
        [&](size_t, const GuideProblem& problem) { problems.push_back(problem.reason); });
    ASSERT_TRUE(built.written) << built.error;
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(built.channels, 3u);
    EXPECT_EQ(built.programmes, 8u);  // the one a month ahead is outside the window

    std::string error;
    GuideIndexHandle index = openGuideIndex(guide.index, error);
    ASSERT_TRUE(index) << error;
    EXPECT_EQ(guideIndexBuiltAt(*index), noon);
    const struct {
        GuideChannelKey key;
        long long at;
        const char* now;
        const char* next;
        long long nowStart;
    } cases[] = {
        {{"one.UK", "", 0}, noon, "Midday News", "Afternoon & Tea", noon - 1800},
        {{"", "BBC One HD", 0}, noon, "Midday News", "Afternoon & Tea", noon - 1800},
        {{"", "arte", 0}, noon, "Le Journal", "Документальный фильм", noon - 600},
        {{"delhi.in", "", 0}, noon, "समाचार", "खेल", noon - 3600},
        {{"delhi.in", "", 0}, noon + 120, "खेल", "Late", noon + 60},
        // Shifted an hour later: at noon the programme of 11:00 guide time.
        {{"one.uk", "", 3600}, noon, "Morning", "Midday News", noon - 5400 + 3600},
        {{"unknown", "Nobody", 0}, noon, "", "", 0},
    };
    for (const auto& c : cases) {
        const std::vector<NowNext> answers = guideNowNext(*index, {c.key}, c.at);
        ASSERT_EQ(answers.size(), 1u);
        const NowNext& answer = answers[0];
        SCOPED_TRACE(c.key.tvgId + "/" + c.key.name);
        EXPECT_EQ(answer.haveNow ? answer.now.title : "", c.now);
        EXPECT_EQ(answer.haveNext ? answer.next.title : "", c.next);
        if (answer.haveNow) {
            EXPECT_EQ(answer.now.start, c.nowStart);
        }
    }
}

// Writes `bytes` to `path`, gzipped when the name ends in .gz.
void writeGuide(const std::string& path, const std::string& bytes) {
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0)
        writeGzip(path, bytes);
    else
        writeFile(path, bytes);
}

TEST(GuideHostile, RefusedWithAMessageInBoundedMemoryKeepingThePreviousGuide) {
    IndexedGuide guide;
    writeFile("secret.txt", "SECRET-CONTENTS");
    writeFile("evil.dtd", "<!ENTITY leak SYSTEM \"secret.txt\">");
    const std::string secretPath = fs::absolute("secret.txt").string();
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE tv [\n<!ENTITY lol \"lol\">\n";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"" +
                  [&] {
                      std::string s;
                      for (int k = 0; k < 10; ++k) s += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
                      return s;
                  }() +
                  "\">\n";
    laughs += "]>\n<tv>" + programme("one.uk", noon, noon + 60, "&lol9;") + "</tv>\n";
    std::string hugeTitle = "<tv>" + programme("one.uk", noon, noon + 60, std::string(10 << 20, 'x')) + "</tv>\n";

    const struct {
        const char* name;
        std::string file;
        std::string bytes;
        const char* message;  // part of the error
    } cases[] = {
        {"broken XML", "broken.xml",
         "<tv>\n<channel id=\"a\">\n<display-name>A</display-name>\n</channel>\n<programme start=\"x\"\n</tv>",
         "line"},
        {"billion laughs", "laughs.xml", laughs, "entit"},
        {"external entity", "external.xml",
         "<!DOCTYPE tv [<!ENTITY leak SYSTEM \"file://" + secretPath + "\">]>\n<tv>" +
             programme("one.uk", noon, noon + 60, "&leak;") + "</tv>",
         "entit"},
        {"external DTD", "dtd.xml",
         "<!DOCTYPE tv SYSTEM \"evil.dtd\">\n<tv>" + programme("one.uk", noon, noon + 60, "&leak;") + "</tv>",
         "leak"},
        {"10 MB title", "title.xml.gz", hugeTitle, "huge"},
        {"1 GB of zeros", "zeros.xml.gz", std::string(), ""},
        {"empty", "empty.xml", "", "empty"},
    };

    // The previous guide, good.
    writeGzip("good.xml.gz", sampleGuide());
    GuideBuildOptions options;
    options.now = noon;
    ASSERT_TRUE(buildGuideIndex(guide.index, {"good.xml.gz"}, options).written);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "1 GB of zeros") {
            // 1 GiB of zeros is about 1 MiB gzipped.
            gzFile file = gzopen(c.file.c_str(), "wb9");
            ASSERT_NE(file, nullptr);
            const std::string zeros(1 << 20, '\0');
            for (int i = 0; i < 1024; ++i) gzwrite(file, zeros.data(), static_cast<unsigned>(zeros.size()));
            gzclose(file);
            EXPECT_LT(fs::file_size(c.file), 2u << 20);
        } else {
            writeGuide(c.file, c.bytes);
        }
        // Read in a child, whose peak memory is its own.
        std::string reason;
        const int status = runWithin(120, [&] {
            const long before = peakKiB();
            std::vector<std::string> titles;
            GuideSinks sinks;
            sinks.programme = [&](const GuideProgramme& p) { titles.push_back(p.title); };
            const GuideReadResult read = readGuideFile(c.file, sinks);
            for (const std::string& title : titles)
                if (title.find("SECRET") != std::string::npos || title.size() > maxGuideTitle ||
                    title.find("lollol") != std::string::npos)
                    return 3;
            if (read.complete || read.error.empty()) return 4;
            if (std::string(c.message).size() &&
                (read.error + (read.errorLine ? " line " + std::to_string(read.errorLine) : "")).find(c.message) ==
                    std::string::npos) {
                std::fprintf(stderr, "message: %s (line %zu)\n", read.error.c_str(), read.errorLine);
                return 5;
            }
            // Bounded: well below the size of what was refused (AddressSanitizer
            // doubles what is used).
            return peakKiB() - before < 160 * 1024 ? 0 : 6;
        });
        EXPECT_EQ(status, 0);
        // The index is not replaced by the hostile guide.
        const GuideBuildResult built = buildGuideIndex(guide.index, {c.file}, options);
        EXPECT_FALSE(built.written);
        EXPECT_NE(built.error.find("previous guide is kept"), std::string::npos) << built.error;
        std::string error;
        GuideIndexHandle index = openGuideIndex(guide.index, error);
        ASSERT_TRUE(index) << error;
        const std::vector<NowNext> answers = guideNowNext(*index, {{"one.uk", "", 0}}, noon);
        EXPECT_EQ(answers[0].now.title, "Midday News");
        fs::remove(c.file);
    }
    EXPECT_EQ(fs::directory_iterator(guide.scratch.folder()) == fs::directory_iterator(), false);
    for (const auto& entry : fs::directory_iterator(guide.scratch.folder()))
        EXPECT_EQ(entry.path().filename().string().find(".new."), std::string::npos) << entry.path();
}

TEST(GuideHostile, CapsOnBytesAndProgrammes) {
    ScratchRoot scratch;
    // 64 MiB of empty elements inside the root element, against a 16 MiB cap.
    {
        gzFile file = gzopen("spaces.xml.gz", "wb9");
        ASSERT_NE(file, nullptr);
        gzputs(file, "<tv>");
        std::string spaces;
        while (spaces.size() < (1u << 20)) spaces += "<x/>";
        for (int i = 0; i < 64; ++i) gzwrite(file, spaces.data(), static_cast<unsigned>(spaces.size()));
        gzputs(file, "</tv>");
        gzclose(file);
    }
    GuideLimits limits;
    limits.maxXmlBytes = 16 << 20;
    const GuideReadResult spaces = readGuideFile("spaces.xml.gz", GuideSinks(), limits);
    EXPECT_FALSE(spaces.complete);
    EXPECT_NE(spaces.error.find("larger than 16 MiB"), std::string::npos) << spaces.error;
    EXPECT_LE(spaces.xmlBytes, (16u << 20) + (1u << 20));

    std::string many = "<tv>";
    for (int i = 0; i < 5000; ++i) many += programme("c" + std::to_string(i % 50), noon + i, noon + i + 1, "t");
    many += "</tv>";
    writeFile("many.xml", many);
    limits = GuideLimits();
    limits.maxProgrammes = 1000;
    size_t handed = 0;
    std::vector<std::string> problems;
    GuideSinks sinks;
    sinks.programme = [&](const GuideProgramme&) { ++handed; };
    sinks.problem = [&](const GuideProblem& problem) { problems.push_back(problem.reason); };
    const GuideReadResult read = readGuideFile("many.xml", sinks, limits);
    EXPECT_TRUE(read.complete) << read.error;
    EXPECT_EQ(handed, 1000u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("more than 1000 programmes"), std::string::npos);
}

TEST(GuideRoot, SetupRoundTripAndCommandLineView) {
    ScratchRoot scratch;
    std::vector<PlaylistEntry> entries(3);
    entries[0].name = "BBC One";
    entries[0].tvgId = "one.uk";
    entries[1].name = "Arte\tHD";
    entries[2].name = "Nothing";
    entries[2].tvgShift = "+1";
    GuideSetup setup = guideSetupFor(entries, {"http://127.0.0.1:1/guide.xml"}, 6);
    std::string error;
    ASSERT_TRUE(writeGuideSetup(".", setup, error)) << error;
    GuideSetup read;
    ASSERT_TRUE(readGuideSetup(".", read, error)) << error;
    EXPECT_EQ(read.refreshHours, 6);
    EXPECT_EQ(read.sources, setup.sources);
    ASSERT_EQ(read.channels.size(), 3u);
    EXPECT_EQ(read.channels[1].key.name, "Arte HD");
    EXPECT_EQ(read.channels[2].key.shift, 3600);

    writeGzip("guide.xml.gz", sampleGuide());
    GuideBuildOptions options;
    options.now = noon;
    ASSERT_TRUE(buildGuideIndex("index.sqlite", {"guide.xml.gz"}, options).written);
    GuideIndexHandle index = openGuideIndex("index.sqlite", error);
    ASSERT_TRUE(index);
    setenv("TZ", "UTC", 1);
    tzset();
    const std::vector<std::string> lines = nowNextLines(read, *index, noon);
    EXPECT_EQ(lines, (std::vector<std::string>{"1\tBBC One\tMidday News\t11:30\t12:30\tAfternoon & Tea",
                                               "2\tArte HD\tLe Journal\t11:50\t12:10\tДокументальный фильм",
                                               "3\tNothing\t\t\t\t"}));
    // A root without guides has no setup file at all.
    ASSERT_TRUE(writeGuideSetup(".", guideSetupFor(entries, {}, 12), error));
    EXPECT_FALSE(fs::exists("VESTRALUME/guide.tsv"));
}

TEST(GuideCards, ProgrammeLinesAreDrawnAndNeverCached) {
    ScratchRoot scratch;
    CardOptions options;
    options.cacheFolder = (fs::path(scratch.folder()) / "cache").string();
    options.network = false;
    std::vector<CardRequest> requests(3);
    for (int i = 0; i < 3; ++i) {
        requests[i].name = "Канал " + std::to_string(i);
        requests[i].number = 7;
        requests[i].output = "card" + std::to_string(i) + ".jpg";
    }
    requests[0].name = requests[1].name = requests[2].name = "Канал";
    requests[1].programme = {true, "Midday News", "11:30\xE2\x80\x93" "12:30", 0.5, "ニュース", "12:30"};
    requests[2].programme = requests[1].programme;
    requests[2].programme.title = "الأخبار";
    const std::vector<CardResult> results = makeCards(requests, options);
    for (const CardResult& result : results) EXPECT_TRUE(result.written) << result.problem;
    EXPECT_NE(readFile("card0.jpg"), readFile("card1.jpg"));
    EXPECT_NE(readFile("card1.jpg"), readFile("card2.jpg"));
    size_t cached = 0;
    for (const auto& entry : fs::directory_iterator(options.cacheFolder + "/cards"))
        cached += entry.path().extension() == ".jpg";
    EXPECT_EQ(cached, 1u);  // only the card without programme lines
}

}  // namespace
