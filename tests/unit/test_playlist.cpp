// Reading playlists as they are found in the wild: the forms of extended
// M3U, which addresses are kept and why the others are skipped, names and
// groups, and hostile input (NUL bytes, broken UTF-8, huge lines, junk).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/playlist.h"
#include "dataroot/url_directory_file.h"

namespace {

struct Read {
    std::vector<PlaylistEntry> entries;
    std::vector<PlaylistProblem> problems;

    std::vector<PlaylistProblem> skipped() const {
        std::vector<PlaylistProblem> found;
        for (const PlaylistProblem& problem : problems)
            if (problem.entrySkipped) found.push_back(problem);
        return found;
    }
};

PlaylistSinks sinksInto(Read& read) {
    PlaylistSinks sinks;
    sinks.entry = [&read](PlaylistEntry& entry) { read.entries.push_back(entry); };
    sinks.problem = [&read](const PlaylistProblem& problem) { read.problems.push_back(problem); };
    return sinks;
}

Read readAll(const std::string& bytes) {
    Read read;
    readPlaylist(bytes, sinksInto(read));
    return read;
}

struct Expected {
    std::string name, address, group, logo;
    size_t line;
};

struct FormCase {
    const char* what;
    std::string playlist;
    std::vector<Expected> entries;
};

std::string describe(const Read& read) {
    std::string text;
    for (const PlaylistEntry& entry : read.entries)
        text += "  entry line " + std::to_string(entry.line) + ": name [" + entry.name +
                "] address [" + entry.address + "] group [" + entry.group + "] logo [" +
                entry.logo + "]\n";
    for (const PlaylistProblem& problem : read.problems)
        text += std::string("  ") + (problem.entrySkipped ? "skipped" : "note") + " line " +
                std::to_string(problem.line) + ": " + problem.reason + "\n";
    return text;
}

TEST(PlaylistForms, ExtendedM3uAsFoundInTheWild) {
    const FormCase cases[] = {
        {"the drafted form",
         "#EXTM3U\n#EXTINF:-1 tvg-id=\"one.uk\" tvg-name=\"One\" tvg-logo=\"http://l.example/1.png\" "
         "group-title=\"News\",News One\nhttp://s.example/1.m3u8\n",
         {{"News One", "http://s.example/1.m3u8", "News", "http://l.example/1.png", 3}}},
        {"no #EXTM3U, a bare address named after its host",
         "https://live.example.org:8443/a/b?c=d\n",
         {{"live.example.org", "https://live.example.org:8443/a/b?c=d", "", "", 1}}},
        {"#EXTM3U with attributes, repeated, and in lower case",
         "#EXTM3U x-tvg-url=\"http://e.example/g.xml\"\n#extm3u\n#EXTINF:-1,A\nhttp://a.example/\n",
         {{"A", "http://a.example/", "", "", 4}}},
        {"byte order mark and CR LF",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1,A\r\nhttp://a.example/\r\n",
         {{"A", "http://a.example/", "", "", 3}}},
        {"LF, CR LF and a lone CR mixed",
         "#EXTINF:-1,A\r\nhttp://a.example/\n#EXTINF:-1,B\rhttp://b.example/\r\n",
         {{"A", "http://a.example/", "", "", 2}, {"B", "http://b.example/", "", "", 4}}},
        {"blank lines and white space around lines",
         "\n\n  #EXTINF:-1 ,  Spaced Name  \t\n\n   http://a.example/x   \n\n",
         {{"Spaced Name", "http://a.example/x", "", "", 5}}},
        {"values holding commas, '=' and spaces",
         "#EXTINF:-1 group-title=\"News, Weather = Fun\" tvg-logo=\"http://l.example/a=1,b\",N\n"
         "http://a.example/\n",
         {{"N", "http://a.example/", "News, Weather = Fun", "http://l.example/a=1,b", 2}}},
        {"attributes without a space between them",
         "#EXTINF:-1 tvg-name=\"T\"tvg-logo=\"L\"group-title=\"G\",Name\nhttp://a.example/\n",
         {{"Name", "http://a.example/", "G", "L", 2}}},
        {"attribute names in any case",
         "#EXTINF:-1 TVG-LOGO=\"L\" Group-Title=\"G\" Tvg-Name=\"T\",\nhttp://a.example/\n",
         {{"T", "http://a.example/", "G", "L", 2}}},
        {"a name holding commas",
         "#EXTINF:-1 group-title=\"G\",News, Weather & Sport, 24/7\nhttp://a.example/\n",
         {{"News, Weather & Sport, 24/7", "http://a.example/", "G", "", 2}}},
        {"stray quotes inside a value",
         "#EXTINF:-1 tvg-name=\"He said \"hi\", ok\" tvg-logo=\"l.png\",Name \"HD\"\n"
         "http://a.example/\n",
         {{"Name \"HD\"", "http://a.example/", "", "l.png", 2}}},
        {"single quotes and a value without quotes",
         "#EXTINF:-1 tvg-logo='http://l.example/x.png' group-title=Movies,Film\n"
         "http://a.example/\n",
         {{"Film", "http://a.example/", "Movies", "http://l.example/x.png", 2}}},
        {"an unclosed quote runs to the comma before the name",
         "#EXTINF:-1 group-title=\"Open,Name\nhttp://a.example/\n",
         {{"Name", "http://a.example/", "Open", "", 2}}},
        {"no name after the comma: tvg-name, else the host",
         "#EXTINF:-1 tvg-name=\"From Tvg\",\nhttp://a.example/\n#EXTINF:-1,\n"
         "rtsp://user:pw@cam.example:554/s\n#EXTINF:0\nhttp://[2001:db8::1]:80/x\n",
         {{"From Tvg", "http://a.example/", "", "", 2},
          {"cam.example", "rtsp://user:pw@cam.example:554/s", "", "", 4},
          {"2001:db8::1", "http://[2001:db8::1]:80/x", "", "", 6}}},
        {"#EXTGRP before or after #EXTINF; group-title wins",
         "#EXTINF:-1,A\n#EXTGRP:Sport\nhttp://a.example/\n#EXTGRP:Kids\n#EXTINF:-1,B\n"
         "http://b.example/\n#EXTINF:-1 group-title=\"News\",C\n#EXTGRP:Other\nhttp://c.example/\n"
         "http://d.example/\n",
         {{"A", "http://a.example/", "Sport", "", 3},
          {"B", "http://b.example/", "Kids", "", 6},
          {"C", "http://c.example/", "News", "", 9},
          {"d.example", "http://d.example/", "", "", 10}}},
        {"#EXTVLCOPT, #KODIPROP and other comments between #EXTINF and its address",
         "#EXTINF:-1,A\n#EXTVLCOPT:http-user-agent=X\n#KODIPROP:inputstream=adaptive\n"
         "# a comment\n#EXT-X-SOMETHING\nhttp://a.example/\n",
         {{"A", "http://a.example/", "", "", 6}}},
        {"the same address twice gives two channels",
         "#EXTINF:-1,A\nhttp://same.example/\n#EXTINF:-1,B\nhttp://same.example/\n",
         {{"A", "http://same.example/", "", "", 2}, {"B", "http://same.example/", "", "", 4}}},
        {"every stream scheme kept, the scheme in lower case",
         "HTTP://a.example/\nhttps://b.example/\nrtmp://c.example/app\nrtmps://d.example/app\n"
         "rtsp://e.example/s\nudp://@239.0.0.1:1234\nrtp://@239.0.0.2:5004\nmms://f.example/s\n",
         {{"a.example", "http://a.example/", "", "", 1},
          {"b.example", "https://b.example/", "", "", 2},
          {"c.example", "rtmp://c.example/app", "", "", 3},
          {"d.example", "rtmps://d.example/app", "", "", 4},
          {"e.example", "rtsp://e.example/s", "", "", 5},
          {"239.0.0.1", "udp://@239.0.0.1:1234", "", "", 6},
          {"239.0.0.2", "rtp://@239.0.0.2:5004", "", "", 7},
          {"f.example", "mms://f.example/s", "", "", 8}}},
        {"spaces and bytes outside ASCII in an address are percent-encoded",
         "http://a.example/my stream/caf\xC3\xA9.m3u8\n",
         {{"a.example", "http://a.example/my%20stream/caf%C3%A9.m3u8", "", "", 1}}},
        {"control characters and line separators in names become spaces",
         "#EXTINF:-1,A\x01" "B\x7F" "C\xC2\x85" "D\xE2\x80\xA8" "E\tF\n"
         "http://a.example/\n",
         {{"A B C D E F", "http://a.example/", "", "", 2}}},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Read read = readAll(c.playlist);
        ASSERT_EQ(read.entries.size(), c.entries.size()) << describe(read);
        for (size_t i = 0; i < c.entries.size(); ++i) {
            EXPECT_EQ(read.entries[i].name, c.entries[i].name) << describe(read);
            EXPECT_EQ(read.entries[i].address, c.entries[i].address);
            EXPECT_EQ(read.entries[i].group, c.entries[i].group);
            EXPECT_EQ(read.entries[i].logo, c.entries[i].logo);
            EXPECT_EQ(read.entries[i].line, c.entries[i].line);
        }
        EXPECT_TRUE(read.skipped().empty()) << describe(read);
    }
}

TEST(PlaylistForms, AddressesNotKeptAreSkippedWithLineAndReason) {
    struct SkipCase {
        std::string line;
        const char* reason;
    };
    const SkipCase cases[] = {
        {"plugin://plugin.video.example/?id=1", "scheme \"plugin:\" is not a stream address"},
        {"file:///etc/passwd", "scheme \"file:\""},
        {"javascript:alert(1)", "scheme \"javascript:\""},
        {"data:text/plain,hi", "scheme \"data:\""},
        {"rtmpe://old.example/app", "scheme \"rtmpe:\""},
        {"Just some words", "not an address"},
        {"/home/me/film.mp4", "a file on a disk"},
        {"C:\\Videos\\a.ts", "a file on a disk"},
        {"http:no-slashes.example", "not an address"},
        {"http://a.example/\x01x", "control characters"},
        {"http://a.example/a\tb", "control characters"},
        {"http://" + std::string(2100, 'a'), "longer than 2048 bytes"},
        {"http://a.example/" + std::string(1000, ' ') + "x", "once its spaces are encoded"},
        {"http:///no/host", "names no host"},
        {"rtsp://@cam.example/", "names no host"},
    };
    std::string playlist = "#EXTM3U\n";
    for (const SkipCase& c : cases) playlist += "#EXTINF:-1,Named\n" + c.line + "\n";
    playlist += "#EXTINF:-1,Last\nhttp://kept.example/\n";
    const Read read = readAll(playlist);
    ASSERT_EQ(read.entries.size(), 1u) << describe(read);
    EXPECT_EQ(read.entries[0].name, "Last");
    const std::vector<PlaylistProblem> skipped = read.skipped();
    ASSERT_EQ(skipped.size(), std::size(cases)) << describe(read);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(skipped[i].line, 3 + 2 * i) << cases[i].line.substr(0, 40);
        EXPECT_NE(skipped[i].reason.find(cases[i].reason), std::string::npos)
            << skipped[i].reason;
        EXPECT_NE(skipped[i].reason.find("(Named)"), std::string::npos) << skipped[i].reason;
        EXPECT_LT(skipped[i].reason.size(), 300u) << "a reason quotes only the start of a line";
    }
}

TEST(PlaylistForms, InfoLinesWithoutAnAddressAreSkipped) {
    const Read read = readAll(
        "#EXTINF:-1,Lonely\n#EXTINF:-1,Paired\nhttp://a.example/\n#EXTINF:-1 tvg-name=\"End\",\n");
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].name, "Paired");
    const std::vector<PlaylistProblem> skipped = read.skipped();
    ASSERT_EQ(skipped.size(), 2u) << describe(read);
    EXPECT_EQ(skipped[0].line, 1u);
    EXPECT_NE(skipped[0].reason.find("\"Lonely\" has no address line"), std::string::npos);
    EXPECT_EQ(skipped[1].line, 4u);
    EXPECT_NE(skipped[1].reason.find("\"End\""), std::string::npos);
}

// ---- Hostile input -------------------------------------------------------

TEST(PlaylistHostile, NulBytesAreLeftOutAndReported) {
    const char raw[] = "#EXTINF:-1,Na\0me\nhttp://a.exa\0mple/\n\0\0\0\n";
    const Read read = readAll(std::string(raw, sizeof raw - 1));
    ASSERT_EQ(read.entries.size(), 1u) << describe(read);
    EXPECT_EQ(read.entries[0].name, "Name");
    EXPECT_EQ(read.entries[0].address, "http://a.example/");
    size_t notes = 0;
    for (const PlaylistProblem& problem : read.problems)
        notes += !problem.entrySkipped && problem.reason.find("NUL") != std::string::npos;
    EXPECT_EQ(notes, 3u) << describe(read);
}

TEST(PlaylistHostile, InvalidUtf8IsRepaired) {
    struct Case {
        std::string name, expected;
    };
    const Case cases[] = {
        // A line in a single-byte encoding: read as Windows-1252.
        {"Caf\xE9 Cr\xE8me \x80", "Caf\xC3\xA9 Cr\xC3\xA8me \xE2\x82\xAC"},
        // UTF-8 with broken sequences: each broken one becomes U+FFFD.
        {"\xD0\x9F\xD0 x \xE2\x82 y \xF0\x9F\x98", "\xD0\x9F\xEF\xBF\xBD x \xEF\xBF\xBD y \xEF\xBF\xBD"},
        // Overlong forms and surrogates are not UTF-8 either.
        {"\xD0\x9F \xC0\xAF \xED\xA0\x80", "\xD0\x9F \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        const Read read = readAll("#EXTINF:-1 group-title=\"" + c.name + "\"," + c.name +
                                  "\nhttp://a.example/\n");
        ASSERT_EQ(read.entries.size(), 1u);
        EXPECT_EQ(read.entries[0].name, c.expected);
        EXPECT_EQ(read.entries[0].group, c.expected);
        EXPECT_TRUE(isValidUtf8(read.entries[0].name));
        ASSERT_FALSE(read.problems.empty());
        EXPECT_NE(read.problems[0].reason.find("not UTF-8 was repaired"), std::string::npos);
        EXPECT_FALSE(read.problems[0].entrySkipped);
    }
    bool repaired = false;
    EXPECT_EQ(repairUtf8("ok \xC3\xA9", repaired), "ok \xC3\xA9");
    EXPECT_FALSE(repaired);
    EXPECT_EQ(repairUtf8("\xFF", repaired), "\xEF\xBF\xBD");
    EXPECT_TRUE(repaired);
}

TEST(PlaylistHostile, TenMegabyteLinesAreCutNotHeld) {
    const std::string huge(10 << 20, 'N');
    const std::string hugeAddress = "http://a.example/" + std::string(10 << 20, 'p');
    const Read read = readAll("#EXTINF:-1," + huge + "\nhttp://a.example/\n#EXTINF:-1,Long\n" +
                              hugeAddress + "\n#EXTINF:-1,After\nhttp://b.example/\n" + huge);
    ASSERT_EQ(read.entries.size(), 2u) << read.problems.size();
    EXPECT_EQ(read.entries[0].name, std::string(maxChannelName, 'N'));
    EXPECT_EQ(read.entries[1].name, "After");
    EXPECT_EQ(read.entries[1].line, 6u);
    const std::vector<PlaylistProblem> skipped = read.skipped();
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].line, 4u);
    EXPECT_NE(skipped[0].reason.find("longer than 2048"), std::string::npos);
    EXPECT_EQ(skipped[1].line, 7u);  // the last line, without a line end: junk
    EXPECT_NE(skipped[1].reason.find("not an address"), std::string::npos);
    size_t cut = 0;
    for (const PlaylistProblem& problem : read.problems)
        cut += problem.reason.find("only its first 1048576 bytes are read") != std::string::npos;
    EXPECT_EQ(cut, 3u);
}

TEST(PlaylistHostile, OnlyJunkGivesNoEntriesAndNamesEveryLine) {
    std::string junk;
    unsigned state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245 + 12345;
        junk.push_back(static_cast<char>(state >> 16));
    }
    const Read read = readAll(junk);
    EXPECT_TRUE(read.entries.empty());
    for (const PlaylistProblem& problem : read.problems) {
        EXPECT_TRUE(isValidUtf8(problem.reason));
        EXPECT_EQ(problem.reason.find('\n'), std::string::npos);
    }
    EXPECT_FALSE(read.skipped().empty());

    const Read text = readAll("hello\nworld\n#EXTINF\n");
    EXPECT_TRUE(text.entries.empty());
    EXPECT_EQ(text.skipped().size(), 3u) << describe(text);
}

TEST(PlaylistStreaming, PiecesOfAnySizeReadLikeTheWhole) {
    const std::string playlist =
        "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1 tvg-name=\"T\" group-title=\"G, H\",Name, more\r\n"
        "#EXTGRP:X\r\nhttp://a.example/a b\r\n\r\n#EXTINF:-1,Caf\xE9\rrtsp://c.example/s\r"
        "plugin://x\n#EXTINF:-1,Orphan\n" + std::string(3000, 'z') + "\nudp://@239.0.0.1:1\n#EXTINF:-1,End";
    const Read whole = readAll(playlist);
    ASSERT_EQ(whole.entries.size(), 3u) << describe(whole);
    for (size_t piece : {1u, 2u, 3u, 7u, 64u, 4096u}) {
        Read pieces;
        const PlaylistSinks sinks = sinksInto(pieces);
        PlaylistReader reader;
        for (size_t at = 0; at < playlist.size(); at += piece)
            readPlaylistChunk(reader, playlist.data() + at, std::min(piece, playlist.size() - at), sinks);
        finishPlaylist(reader, sinks);
        EXPECT_EQ(describe(pieces), describe(whole)) << "pieces of " << piece;
    }
}

TEST(PlaylistAddresses, HostOfAnAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://a.example/x", "a.example"},
        {"http://a.example", "a.example"},
        {"http://user:pw@a.example:8080/x", "a.example"},
        {"udp://@239.0.0.1:1234", "239.0.0.1"},
        {"http://[::1]:80/", "::1"},
        {"http://a.example?x=@b", "a.example"},
        {"no address", ""},
    };
    for (const auto& [address, host] : cases) EXPECT_EQ(addressHost(address), host) << address;
}

}  // namespace
