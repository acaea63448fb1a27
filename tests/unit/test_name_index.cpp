// Finding channels by name: folding, transliteration at import, the index
// file, and the ranking of a typed query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/import_names.h"
#include "dataroot/name_index.h"

namespace {

NameEntry entryOf(int channel, const std::string& name, const std::string& group = "") {
    NameEntry entry;
    entry.channel = channel;
    entry.names = searchableNames(name);
    entry.group = searchableNames(group);
    return entry;
}

// A small catalogue in several scripts, channel numbers 1 to N in order.
std::vector<NameEntry> catalogue(const std::vector<std::pair<std::string, std::string>>& channels) {
    std::vector<NameEntry> entries;
    for (const auto& channel : channels)
        entries.push_back(entryOf(static_cast<int>(entries.size()) + 1, channel.first, channel.second));
    return entries;
}

std::vector<int> channelsFound(const std::vector<NameEntry>& entries, const std::string& query) {
    std::vector<int> channels;
    for (int position : findMatches(entries, query)) channels.push_back(entries[static_cast<size_t>(position)].channel);
    return channels;
}

TEST(NameIndex, FoldsToLowerCaseAsciiWords) {
    const struct {
        const char* text;
        const char* folded;
    } cases[] = {
        {"BBC One", "bbc one"},
        {"  Café   Télé  ", "cafe tele"},
        {"Ñandú-TV (HD)", "nandu tv hd"},
        {"Straße Œuvre Æther", "strasse oeuvre aether"},
        {"Łódź Šport", "lodz sport"},
        {"CCTV-1", "cctv 1"},
        {"Первый канал", ""},  // no transliteration without ICU: other scripts separate
        {"TV\xff\xfe" "5", "tv 5"},  // bytes that are not UTF-8
        {"\xe2\x82", ""},  // a cut character
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(foldName(c.text), c.folded) << c.text;
    EXPECT_EQ(joinedWords("cctv 1"), "cctv1");
    EXPECT_EQ(joinedWords("single"), "");
}

TEST(NameIndex, TransliteratesEveryScriptAtImport) {
    // Each name must be found by each query (a spelling a person on a Latin
    // keyboard types).
    const struct {
        const char* name;
        std::vector<const char*> queries;
    } cases[] = {
        {"Первый канал", {"perv", "pervyy", "pervyj", "kanal", "PERVYY KANAL"}},
        {"Россия 24", {"rossiya", "rossia", "24"}},
        {"中央新闻", {"zhongyang", "zhong yang", "xin wen", "zhongyangxinwen"}},
        {"CCTV-1 综合", {"cctv1", "cctv 1", "zonghe", "zong he"}},
        {"Αθήνα TV", {"athena", "athena tv"}},
        {"ΕΡΤ1", {"ert1", "ert"}},
        {"الجزيرة", {"aljzyrt"}},
        {"Café Télé", {"cafe", "CAFÉ TÉLÉ", "tele"}},
    };
    for (const auto& c : cases) {
        const std::vector<NameEntry> entries = {entryOf(1, c.name)};
        for (const char* query : c.queries)
            EXPECT_EQ(channelsFound(entries, query), std::vector<int>{1})
                << c.name << " by \"" << query << "\" (" << entries[0].names << ")";
    }
}

TEST(NameIndex, RanksNumbersAndWordStartsFirst) {
    const std::vector<NameEntry> entries = catalogue({
        {"Superperv", ""},             // 1: "perv" inside a word
        {"Первый канал", "Russia"},   // 2: a name that begins with it
        {"Kanal Pervyy HD", ""},       // 3: a later word begins with it
        {"Sky News", "News"},          // 4
        {"Weather", "News"},           // 5: only its group says news
        {"Newsmax", ""},               // 6: begins with news
        {"Channel 7", ""},             // 7
        {"Euronews", ""},              // 8: news inside the word
        {"Sport 12", "Sports"},        // 9
        {"Arte", ""},                  // 10
        {"Sport 1", ""},              // 11
        {"Arte HD", ""},               // 12
    });
    const struct {
        const char* query;
        std::vector<int> channels;
    } cases[] = {
        {"perv", {2, 3, 1}},
        {"pervyy kanal", {2, 3}},
        {"news", {6, 4, 8, 5}},
        {"sky news", {4}},
        {"7", {7}},
        // The channel numbered 12 first, then names with a word "12".
        {"12", {12, 9}},
        // Channel 1 by its number, then the words starting with "1".
        {"1", {1, 9, 11}},
        {"arte", {10, 12}},
        {"sport", {9, 11}},
        {"sports", {9}},
        {"nothing like it", {}},
        {"", {}},
        {"   ", {}},
        {"!!", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(channelsFound(entries, c.query), c.channels) << "\"" << c.query << "\"";
}

TEST(NameIndex, ANarrowerQuerySearchesOnlyThePreviousMatches) {
    const std::vector<NameEntry> entries = catalogue({
        {"Первый канал", ""}, {"Pervyy Baltiyskiy", ""}, {"Kanal 5", ""}, {"Perviy kanal HD", ""}, {"5 Kanal", ""},
    });
    const struct {
        const char* previous;
        const char* query;
        bool narrows;
    } cases[] = {
        {"perv", "pervy", true},  {"perv", "perv k", true}, {"Perv", "perv ", true},
        {"pervy", "perv", false}, {"", "perv", false},      {"perv k", "perv", false},
        {"5", "51", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(narrowsSearch(c.previous, c.query), c.narrows) << c.previous << " -> " << c.query;
        if (!c.narrows) continue;
        // The narrowed search finds what the whole search finds, in the
        // same order, also when the earlier matches come unordered.
        std::vector<int> previous = findMatches(entries, c.previous);
        std::reverse(previous.begin(), previous.end());
        EXPECT_EQ(findMatches(entries, c.query, &previous), findMatches(entries, c.query))
            << c.previous << " -> " << c.query;
    }
    // A number finds its channel even among earlier matches without it.
    const std::vector<int> none;
    EXPECT_EQ(findMatches(entries, "5", &none), std::vector<int>{4});
}

TEST(NameIndex, IndexFileRoundTripsAndRefusesDamage) {
    std::vector<NameEntry> entries = catalogue({{"Первый канал", "Общие"}, {"BBC One", ""}, {"中央", "News"}});
    const std::string text = nameIndexText(entries);
    const std::optional<std::vector<NameEntry>> read = parseNameIndex(text, 3);
    ASSERT_TRUE(read);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ((*read)[i].channel, entries[i].channel);
        EXPECT_EQ((*read)[i].names, entries[i].names);
        EXPECT_EQ((*read)[i].group, entries[i].group);
    }
    const struct {
        const char* what;
        std::string text;
        int count;
    } damaged[] = {
        {"another count", text, 4},
        {"fewer lines", text.substr(0, text.rfind('\n', text.size() - 2) + 1), 3},
        {"a cut last line", text.substr(0, text.size() - 1), 3},
        {"another header", "quillon-names 2" + text.substr(nameIndexHeader.size()), 3},
        {"no header", text.substr(text.find('\n') + 1), 3},
        {"a channel out of order", nameIndexHeader + " 2\n2\ta\t\n1\tb\t\n", 2},
        {"a byte no fold makes", nameIndexHeader + " 1\n1\tA\t\n", 1},
        {"a field too many", nameIndexHeader + " 1\n1\ta\tb\tc\n", 1},
        {"a field too few", nameIndexHeader + " 1\n1\ta\n", 1},
        {"a huge channel number", nameIndexHeader + " 1\n99999999999\ta\t\n", 1},
        {"an empty file", "", 0},
    };
    for (const auto& c : damaged) EXPECT_FALSE(parseNameIndex(c.text, c.count)) << c.what;
    EXPECT_TRUE(parseNameIndex(nameIndexHeader + " 0\n", 0));
}

}  // namespace
