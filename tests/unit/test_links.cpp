// The delivered URL directory, data/VESTRALUME/links.tsv, counted here on its
// own terms (not with the data checker): link numbers, the three kinds of
// entry, the path shapes on the video-sharing host, the ten shared pairs,
// distinct addresses, https only and the length bound. Also the checker's
// verdict on broken tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
// GCC 12 reports false "may be used uninitialized" warnings inside
// libstdc++'s regex compiler when building with the sanitizers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <set>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tools/data_check.h"

namespace {

const std::string tablePath = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME/links.tsv";
const std::string videoHost = "https://video.example";
const std::string productSite = "https://quillon.example";
const std::string productWebPage = "https://quillon.example/";

const std::set<int> productNumbers = {3, 5, 17, 27, 41, 111, 119, 123, 134, 147, 289};
const std::set<int> broadcasterNumbers = {1, 2, 55, 237, 238, 297, 300, 1016};
const std::vector<std::pair<int, int>> sharedPairs = {
    {25, 340},   {81, 611},  {130, 965}, {177, 490}, {230, 1099},
    {263, 650},  {286, 790}, {342, 590}, {591, 592}, {1030, 1082}};

struct Entry {
    int number;
    std::string address;
};

// Every entry line "<number>\t<address>", skipping comments and blank lines;
// a malformed line fails the test.
std::vector<Entry> readTable() {
    std::vector<Entry> entries;
    std::ifstream in(tablePath);
    EXPECT_TRUE(in) << tablePath;
    const std::regex entryLine(R"(([0-9]+)\t(\S+))");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::smatch match;
        if (!std::regex_match(line, match, entryLine)) {
            ADD_FAILURE() << "malformed line: " << line;
            continue;
        }
        entries.push_back({std::stoi(match[1]), match[2]});
    }
    return entries;
}

std::map<int, std::string> byNumber(const std::vector<Entry>& entries) {
    std::map<int, std::string> table;
    for (const Entry& entry : entries) table[entry.number] = entry.address;
    return table;
}

TEST(UrlDirectoryTable, HoldsExactlyTheNumbersOneTo1290EachOnce) {
    const std::vector<Entry> entries = readTable();
    ASSERT_EQ(entries.size(), 1290u);
    std::vector<int> numbers;
    for (const Entry& entry : entries) numbers.push_back(entry.number);
    std::sort(numbers.begin(), numbers.end());
    for (int i = 0; i < 1290; ++i) ASSERT_EQ(numbers[i], i + 1);
}

TEST(UrlDirectoryTable, EveryAddressIsShortPrintableHttps) {
    for (const Entry& entry : readTable()) {
        SCOPED_TRACE(entry.number);
        EXPECT_EQ(entry.address.rfind("https://", 0), 0u) << entry.address;
        EXPECT_LE(entry.address.size(), 100u) << entry.address;
        EXPECT_TRUE(std::all_of(entry.address.begin(), entry.address.end(),
                                [](char c) { return c > ' ' && c < 127; }))
            << entry.address;
        EXPECT_NE(entry.address, productWebPage)
            << "the product web page is opened on its own, not through the directory";
    }
}

TEST(UrlDirectoryTable, KindsSitAtTheirLinkNumbers) {
    const std::regex productPage(R"(https://quillon\.example/p/[a-z0-9-]+\.html)");
    std::set<std::string> broadcasterHosts;
    int video = 0;
    for (const Entry& entry : readTable()) {
        SCOPED_TRACE(entry.number);
        const bool onVideoHost = entry.address.rfind(videoHost + "/", 0) == 0;
        const bool onProductSite = entry.address.rfind(productSite + "/", 0) == 0;
        if (productNumbers.count(entry.number)) {
            EXPECT_TRUE(std::regex_match(entry.address, productPage)) << entry.address;
        } else if (broadcasterNumbers.count(entry.number)) {
            EXPECT_FALSE(onVideoHost || onProductSite) << entry.address;
            const std::string host = entry.address.substr(8, entry.address.find('/', 8) - 8);
            EXPECT_TRUE(broadcasterHosts.insert(host).second) << "one host per broadcaster";
        } else {
            EXPECT_TRUE(onVideoHost) << entry.address;
            ++video;
        }
    }
    EXPECT_EQ(video, 1271);
    EXPECT_EQ(broadcasterHosts.size(), 8u);
}

TEST(UrlDirectoryTable, VideoEntriesUseEachPathShapeTheRightNumberOfTimes) {
    const std::string name = "[A-Za-z0-9]+";
    const std::string id = "[A-Za-z0-9_-]+";
    struct Shape {
        const char* what;
        std::regex pattern;
        int expected;
    };
    const std::vector<Shape> shapes = {
        {"/user/<name>/videos", std::regex("/user/" + name + "/videos"), 503},
        {"/channel/<id>/videos", std::regex("/channel/" + id + "/videos"), 391},
        {"/c/<name>/videos", std::regex("/c/" + name + "/videos"), 346},
        {"/channel/<id>", std::regex("/channel/" + id), 9},
        {"/<name>/videos", std::regex("/(?!user/|c/|channel/)" + name + "/videos"), 8},
        {"/user/<name>", std::regex("/user/" + name), 6},
        {"/c/<name>", std::regex("/c/" + name), 5},
        {"/playlist?list=<id>", std::regex("/playlist\\?list=" + id), 2},
        {"/watch?v=<id>&list=<id>", std::regex("/watch\\?v=" + id + "&list=" + id), 1},
    };
    std::vector<int> counts(shapes.size(), 0);
    for (const Entry& entry : readTable()) {
        if (entry.address.rfind(videoHost + "/", 0) != 0) continue;
        const std::string path = entry.address.substr(videoHost.size());
        int matches = 0;
        for (size_t i = 0; i < shapes.size(); ++i)
            if (std::regex_match(path, shapes[i].pattern)) {
                ++counts[i];
                ++matches;
            }
        EXPECT_EQ(matches, 1) << "entry " << entry.number << " has no single shape: " << path;
    }
    for (size_t i = 0; i < shapes.size(); ++i)
        EXPECT_EQ(counts[i], shapes[i].expected) << shapes[i].what;
}

TEST(UrlDirectoryTable, TenPairsShareAnAddressAndAllOthersAreDistinct) {
    const std::map<int, std::string> table = byNumber(readTable());
    std::map<int, int> partner;
    for (const auto& [a, b] : sharedPairs) {
        EXPECT_EQ(table.at(a), table.at(b)) << a << " and " << b;
        partner[a] = b;
        partner[b] = a;
    }
    std::map<std::string, std::vector<int>> holders;
    for (const auto& [number, address] : table) holders[address].push_back(number);
    EXPECT_EQ(holders.size(), 1280u);
    for (const auto& [address, numbers] : holders) {
        if (numbers.size() == 1) continue;
        ASSERT_EQ(numbers.size(), 2u) << address;
        EXPECT_EQ(partner[numbers[0]], numbers[1]) << address;
    }
}

TEST(UrlDirectoryTable, PassesTheDataChecker) {
    EXPECT_EQ(checkLinkTable(tablePath, "links.tsv"), std::vector<std::string>());
}

// One way of breaking the table, and words the checker's report must hold.
struct BrokenTable {
    const char* name;
    std::string (*damage)(std::string text);
    const char* expected;
};

std::string replaceLine(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string lineOf(const std::string& text, int number) {
    const std::string start = "\n" + std::to_string(number) + "\t";
    const size_t at = text.find(start) + 1;
    return text.substr(at, text.find('\n', at) - at);
}

const BrokenTable brokenTables[] = {
    {"number given twice",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 7), "6\thttps://video.example/user/seven/videos");
     },
     "link number 6 was given before"},
    {"number missing", [](std::string text) { return replaceLine(text, lineOf(text, 1290) + "\n", ""); },
     "no address for link numbers 1290"},
    {"web page among the imported numbers",
     [](std::string text) { return text + "10000\thttps://video.example/user/extra/videos\n"; },
     "link number 10000 is a web page, but numbers from 10000 on are media addresses"},
    {"plain http",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 4), "4\thttp://video.example/user/four/videos");
     },
     "does not start with https://"},
    {"too long",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 9),
                            "9\thttps://video.example/user/" + std::string(80, 'n') + "/videos");
     },
     "more than 100"},
    {"space in an address",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 10), "10\thttps://video.example/user/a b/videos");
     },
     "not printable ASCII"},
    {"pair split",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 592), "592\thttps://video.example/user/alone/videos");
     },
     "591 and 592 should open the same address"},
    {"other address repeated",
     [](std::string text) {
         const std::string eleven = lineOf(text, 11);
         return replaceLine(text, lineOf(text, 12), "12" + eleven.substr(eleven.find('\t')));
     },
     "link numbers 11, 12 share the address"},
    {"no tab",
     [](std::string text) { return replaceLine(text, lineOf(text, 13), "13 https://video.example/x"); },
     "is not a link number, a TAB and an address"},
    {"indented comment",
     [](std::string text) { return replaceLine(text, lineOf(text, 13), "  # 13"); },
     "is not a link number, a TAB and an address"},
    {"number with leading zeros",
     [](std::string text) {
         const std::string line = lineOf(text, 14);
         return replaceLine(text, line, "0000000" + line);
     },
     "is not a link number, a TAB and an address"},
    {"unknown third field",
     [](std::string text) { return replaceLine(text, lineOf(text, 15), lineOf(text, 15) + "\tvideo"); },
     "has a third field other than \"media\""},
    {"number out of range",
     [](std::string text) { return text + "123456789\thttps://stream.example/x\tmedia\n"; },
     "link number 123456789 is outside 1 to 99999999"},
    {"media address among the delivered numbers",
     [](std::string text) {
         return replaceLine(text, lineOf(text, 16), "16\thttps://stream.example/x\tmedia");
     },
     "link number 16 is a media address, but 1 to 1290 are the delivered web pages"},
    {"media address the program does not open",
     [](std::string text) { return text + "10001\tfile:///etc/passwd\tmedia\n"; },
     "the address of link 10001 is not a media address the program opens"},
};

TEST(UrlDirectoryTable, CheckerReportsEachKindOfDamage) {
    ScratchRoot scratch;
    const std::string original = readFile(tablePath);
    for (const BrokenTable& broken : brokenTables) {
        SCOPED_TRACE(broken.name);
        const std::string text = broken.damage(original);
        ASSERT_NE(text, original);
        writeFile("links.tsv", text);
        const std::vector<std::string> problems = checkLinkTable("links.tsv", "links.tsv");
        ASSERT_FALSE(problems.empty());
        const bool found = std::any_of(problems.begin(), problems.end(), [&](const std::string& p) {
            return p.find(broken.expected) != std::string::npos;
        });
        EXPECT_TRUE(found) << "expected \"" << broken.expected << "\" in:\n"
                           << testing::PrintToString(problems);
    }
}

TEST(UrlDirectoryTable, CheckerReportsAMissingTable) {
    const std::vector<std::string> problems = checkLinkTable("/nonexistent/links.tsv", "links.tsv");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("links.tsv is missing"), std::string::npos);
}

}  // namespace
