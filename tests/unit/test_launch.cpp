// Opening a channel: the URL directory and its checks, and the resolution of
// the selected tile through page file, link file and link number to the
// address handed to the desktop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <future>
#include <memory>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "dataroot/sources_file.h"
#include "launch/alternatives.h"
#include "launch/playlist_refresh.h"
#include "launch/launch.h"
#include "scene/wall.h"
#include "state/state_files.h"
#include "tests/support/address_recorder.h"
#include "tests/support/scratch.h"

namespace {

using Addresses = std::vector<std::string>;

std::string address(int linkNumber) {
    return "https://video.example/c/channel" + std::to_string(linkNumber) + "/videos";
}

// The directory lines every resolution test uses: a few ordinary entries,
// the first and the last number, and one shared address.
const char* const sharedAddress = "https://video.example/user/shared/videos";

std::string sampleDirectory() {
    std::string text = "# link number, tab, address\n\n";
    for (int n : {1, 13, 377, 1290}) text += std::to_string(n) + "\t" + address(n) + "\n";
    text += "25\t" + std::string(sharedAddress) + "\n";
    text += "340\t" + std::string(sharedAddress) + "\n";
    return text;
}

std::vector<int> consecutive(int first, int count) {
    std::vector<int> numbers;
    for (int i = 0; i < count; ++i) numbers.push_back(first + i);
    return numbers;
}

TEST(UrlDirectory, KeepsValidLinesAndReportsEveryOtherOne) {
    ScratchRoot root;
    struct Line {
        std::string text;
        bool reported;
    };
    const std::vector<Line> lines = {
        {"# comment", false},
        {"", false},
        {"   \t ", false},
        {"  # indented comment", false},
        {"1\thttps://first.example/", false},
        {"377\thttps://video.example/user/a/videos", false},
        {"1290\thttps://last.example/p/x.html", false},
        {"21\thttps://crlf.example/live\r", false},
        {"22\thttps://video.example/watch?v=abc&list=def", false},
        {"0377x\thttps://junk.example/", true},
        {"abc", true},
        {"12 https://space-not-tab.example/", true},
        {"0\thttps://zero.example/", true},
        {"1291\thttps://above.example/", false},
        {"100000000\thttps://beyond-any-link.example/", true},
        {"1292\trtsp://camera.example:554/live\tmedia", false},
        {"1293\thttps://web-page-only.example/\tpage", true},
        {"1294\tplugin://video.addon/play\tmedia", true},
        {"-5\thttps://negative.example/", true},
        {"+6\thttps://sign.example/", true},
        {"99999999999999\thttps://huge.example/", true},
        {"\thttps://no-number.example/", true},
        {"7\t", true},
        {"8\thttp://plain.example/", true},
        {"9\tjavascript:alert(1)", true},
        {"10\tfile:///etc/passwd", true},
        {"11\thttps://a b.example/", true},
        {"12\thttps://tab.example/\tx", true},
        {"14\thttps://ctl.example/\x01", true},
        {"15\thttps:///etc/passwd", true},
        {"16\thttps://", true},
        {"17\tHTTPS://upper.example/", true},
        {"18\thttps://na\xc3\xafve.example/", true},
        {"19\t-https://option.example/", true},
        {"20\t https://leading-space.example/", true},
        {"377\thttps://duplicate.example/", true},
        {"23\t$(touch /tmp/x)", true},
    };
    std::string table;
    for (const Line& line : lines) table += line.text + "\n";
    writeFile("VESTRALUME/links.tsv", table);

    testing::internal::CaptureStdout();
    loadUrlDirectory();
    const std::string output = testing::internal::GetCapturedStdout();
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string mark = "linha " + std::to_string(i + 1) + " ignorada";
        EXPECT_EQ(output.find(mark) != std::string::npos, lines[i].reported)
            << "line " << i + 1 << ": " << lines[i].text;
    }

    struct Lookup {
        int number;
        std::optional<std::string> expected;
    };
    const Lookup lookups[] = {
        {1, "https://first.example/"},
        {377, "https://video.example/user/a/videos"},  // the first line of a number wins
        {1290, "https://last.example/p/x.html"},
        {21, "https://crlf.example/live"},
        {22, "https://video.example/watch?v=abc&list=def"},
        {1291, "https://above.example/"},
        {1292, "rtsp://camera.example:554/live"},
        {0, std::nullopt},    {-5, std::nullopt},   {1293, std::nullopt}, {1294, std::nullopt},
        {INT_MIN, std::nullopt}, {INT_MAX, std::nullopt},
        {2, std::nullopt},  // no line at all
    };
    for (const Lookup& lookup : lookups)
        EXPECT_EQ(findUrl(lookup.number), lookup.expected) << "link number " << lookup.number;
    for (int n = 6; n <= 20; ++n) EXPECT_EQ(findUrl(n), std::nullopt) << "link number " << n;
}

TEST(UrlDirectory, MissingTableOpensNothingAndReloadingReplacesTheTable) {
    ScratchRoot root;
    writeFile("VESTRALUME/links.tsv", "5\thttps://five.example/\n");
    loadUrlDirectory();
    EXPECT_EQ(findUrl(5), "https://five.example/");

    writeFile("VESTRALUME/links.tsv", "6\thttps://six.example/\n");
    loadUrlDirectory();
    EXPECT_EQ(findUrl(5), std::nullopt);
    EXPECT_EQ(findUrl(6), "https://six.example/");

    testing::internal::CaptureStdout();
    loadUrlDirectory("VESTRALUME/none.tsv");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("VESTRALUME/none.tsv"), std::string::npos);
    for (int n = 0; n <= deliveredLinkCount + 1; ++n) ASSERT_EQ(findUrl(n), std::nullopt) << n;
}

TEST(UrlDirectory, EveryNumberOfAFullTableHasItsEntry) {
    ScratchRoot root;
    std::string table;
    for (int n = 1; n <= deliveredLinkCount; ++n) table += std::to_string(n) + "\t" + address(n) + "\n";
    writeFile("VESTRALUME/links.tsv", table);
    loadUrlDirectory();
    for (int n = 1; n <= deliveredLinkCount; ++n) ASSERT_EQ(findUrl(n), address(n)) << n;
}

// The first lookup of a process loads the table from the data root by itself.
TEST(UrlDirectoryDeathTest, FirstLookupLoadsTheInstalledTable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int status = 1;
            {
                ScratchRoot root;
                writeFile("VESTRALUME/links.tsv", "42\thttps://forty-two.example/\n");
                if (findUrl(42) == std::optional<std::string>("https://forty-two.example/"))
                    status = 0;
            }
            std::exit(status);
        },
        testing::ExitedWithCode(0), "");
}

TEST(WebAddress, OnlyPlainHttpsAddressesAreSafe) {
    const std::pair<const char*, bool> cases[] = {
        {"https://quillon.example/", true},
        {"https://video.example/playlist?list=PL1", true},
        {"https://x", true},
        {"http://video.example/", false},
        {"https:/video.example/", false},
        {"https://", false},
        {"https:///etc/passwd", false},
        {"file:///etc/passwd", false},
        {"/usr/bin/xterm", false},
        {"-https://x", false},
        {"--help", false},
        {"", false},
        {"https://a b", false},
        {"https://a\nb", false},
        {"https://a\x7f", false},
        {"https://\xe2\x82\xac.example/", false},
        {" https://x", false},
    };
    for (const auto& [text, safe] : cases) EXPECT_EQ(isSafeWebAddress(text), safe) << text;
    EXPECT_TRUE(isSafeWebAddress(productWebPage));
}

// A scratch data root with the sample directory, pages 9..24 (list 1) and
// 101..116 (list 2), and a stand-in desktop handler.
class OpenChannel : public testing::Test {
protected:
    void SetUp() override {
        writeFile("VESTRALUME/links.tsv", sampleDirectory());
        loadUrlDirectory();
        writeFile("VESTRALUME/n/z1.txt", formatIntList(consecutive(9, 16)));
        writeFile("VESTRALUME/n/z2.txt", formatIntList(consecutive(101, 16)));
        currentList = 1;
    }
    void TearDown() override { currentList = 1; }

    // Selects `tile`, gives channel `channel` of `list` the link file text
    // `link`, and opens the selected channel of `list`.
    Addresses open(int list, const std::string& tile) {
        currentList = list;
        writeFile("VESTRALUME/n/b.txt", tile);
        openSelectedChannel();
        return opened.drain();
    }

    ScratchRoot root;
    AddressRecorder opened{root.folder()};
};

TEST_F(OpenChannel, ResolvesTileThroughPageAndLinkFile) {
    writeFile("VESTRALUME/1/13.txt", "377");
    EXPECT_EQ(open(1, "5"), Addresses{address(377)});
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), "377");

    // The favourites' page and folder.
    writeFile("VESTRALUME/2/105.txt", "1290\r\n");
    EXPECT_EQ(open(2, "5"), Addresses{address(1290)});
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/2/105.txt");
    EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), "1290\r\n");

    // Tiles 1 and 12 are the ends of the selectable rows; a longer page
    // file changes nothing.
    writeFile("VESTRALUME/n/z1.txt", formatIntList(consecutive(1, 30)));
    writeFile("VESTRALUME/1/1.txt", "1");
    EXPECT_EQ(open(1, "1"), Addresses{address(1)});
    writeFile("VESTRALUME/1/12.txt", " 13 trailing words");
    EXPECT_EQ(open(1, "12\n"), Addresses{address(13)});
}

TEST_F(OpenChannel, TileOutsideTheSelectableRowsReopensThePreviousChannel) {
    writeFile("VESTRALUME/1/13.txt", "377");
    ASSERT_EQ(open(1, "5"), Addresses{address(377)});
    for (const char* tile : {"13", "16", "0", "-1", "", "x"}) {
        EXPECT_EQ(open(1, tile), Addresses{address(377)}) << "tile [" << tile << "]";
        EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    }
    // Even from the other list: the path names list 1's channel.
    EXPECT_EQ(open(2, "13"), Addresses{address(377)});
}

TEST_F(OpenChannel, MissingLinkFileReusesThePreviousLinkNumber) {
    writeFile("VESTRALUME/1/13.txt", "377");
    ASSERT_EQ(open(1, "5"), Addresses{address(377)});
    // Tile 6 is channel 14, which has no link file.
    EXPECT_EQ(open(1, "6"), Addresses{address(377)});
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/14.txt");
    EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), "377");
}

TEST_F(OpenChannel, LinkNumberWithoutEntryOpensNothing) {
    for (const char* link : {"0", "1291", "-377", "abc", "", "2"}) {
        writeFile("VESTRALUME/1/13.txt", link);
        EXPECT_EQ(open(1, "5"), Addresses{}) << "link file [" << link << "]";
        EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), link);
    }
}

TEST_F(OpenChannel, SharedAddressOpensOncePerPress) {
    writeFile("VESTRALUME/1/13.txt", "25");
    writeFile("VESTRALUME/1/14.txt", "340");
    EXPECT_EQ(open(1, "5"), Addresses{sharedAddress});
    EXPECT_EQ(open(1, "6"), Addresses{sharedAddress});
}

TEST_F(OpenChannel, UnreadableOrShortPageOpensNothing) {
    writeFile("VESTRALUME/1/13.txt", "377");
    writeFile("VESTRALUME/n/npt.txt", "VESTRALUME/1/13.txt");
    writeFile("VESTRALUME/n/hl.txt", "1");
    for (const std::string& page : {formatIntList(consecutive(9, 11)), std::string("nine ten")}) {
        writeFile("VESTRALUME/n/z1.txt", page);
        EXPECT_EQ(open(1, "5"), Addresses{}) << page;
        EXPECT_EQ(open(1, "13"), Addresses{}) << page;
    }
    std::filesystem::remove("VESTRALUME/n/z1.txt");
    EXPECT_EQ(open(1, "5"), Addresses{});
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), "1");
}

TEST_F(OpenChannel, ATilePastTheEndOfAnImportedCatalogueOpensNothing) {
    writeFile("VESTRALUME/1/13.txt", "377");
    writeFile("VESTRALUME/1/14.txt", "1290");
    writeFile("VESTRALUME/1/count.txt", "13");
    ASSERT_EQ(open(1, "5"), Addresses{address(377)});
    // Channel 14 is past the end: not the previous channel, nothing at all.
    EXPECT_EQ(open(1, "6"), Addresses{});
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    // The favourites list is not bounded by the catalogue's count.
    writeFile("VESTRALUME/2/106.txt", "1290");
    EXPECT_EQ(open(2, "6"), Addresses{address(1290)});
}

TEST_F(OpenChannel, OnlySafeAddressesReachTheDesktop) {
    openWebAddress(productWebPage);
    EXPECT_EQ(opened.drain(), Addresses{productWebPage});
    for (const char* unsafe : {"file:///etc/passwd", "/bin/sh", "-x", "http://a.example/",
                               "https://a b", ""}) {
        openWebAddress(unsafe);
        EXPECT_EQ(opened.drain(), Addresses{}) << unsafe;
    }
}

}  // namespace

TEST_F(OpenChannel, PeekingAtTheSelectedChannelWritesNothing) {
    writeFile("VESTRALUME/1/13.txt", "377\nNews \xce\xb1\xce\xb2\x01\n");
    writeFile("VESTRALUME/n/npt.txt", "VESTRALUME/1/9.txt");
    writeFile("VESTRALUME/n/hl.txt", "1");
    writeFile("VESTRALUME/n/b.txt", "5");
    const std::optional<ChannelEntry> peeked = peekSelectedChannel();
    ASSERT_TRUE(peeked);
    EXPECT_EQ(peeked->channel, 13);
    EXPECT_EQ(peeked->linkNumber, 377);
    EXPECT_EQ(peeked->entry.address, address(377));
    EXPECT_EQ(peeked->name, "News \xce\xb1\xce\xb2");
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/9.txt");
    EXPECT_EQ(readFile("VESTRALUME/n/hl.txt"), "1");

    // Resolving goes the way Enter goes, through npt.txt and hl.txt, to the
    // same channel.
    const std::optional<ChannelEntry> resolved = resolveSelectedChannel();
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->channel, 13);
    EXPECT_EQ(resolved->linkNumber, 377);
    EXPECT_EQ(resolved->name, peeked->name);
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    EXPECT_EQ(opened.drain(), Addresses{}) << "resolving opens nothing";

    // Nothing to peek at: no selectable tile, no link file, no entry, past
    // an imported catalogue's end, another list's missing channel.
    for (const char* tile : {"13", "0", "x"}) {
        writeFile("VESTRALUME/n/b.txt", tile);
        EXPECT_FALSE(peekSelectedChannel()) << tile;
    }
    EXPECT_FALSE(peekChannel(1, 14)) << "no link file";
    writeFile("VESTRALUME/1/14.txt", "1291");
    EXPECT_FALSE(peekChannel(1, 14)) << "no entry";
    writeFile("VESTRALUME/1/count.txt", "13");
    writeFile("VESTRALUME/1/14.txt", "377");
    EXPECT_FALSE(peekChannel(1, 14)) << "past the end";
    EXPECT_TRUE(peekChannel(1, 13));
    EXPECT_FALSE(peekChannel(3, 13));
    EXPECT_FALSE(peekChannel(1, 0));
    EXPECT_FALSE(peekChannel(2, 13));
}

// A channel with alternative addresses opens the first whose server takes a
// connection: its own first, then the others in playlist order.
TEST(Alternatives, AddressesNameTheirServer) {
    struct Case {
        const char* address;
        bool known;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"http://a.example/live.m3u8", true, "a.example", 80},
        {"https://user:pw@a.example:8443/x?y=1", true, "a.example", 8443},
        {"rtmp://b.example/app", true, "b.example", 1935},
        {"RTSP://[::1]:8554/cam", true, "::1", 8554},
        {"http://127.0.0.1:0/x", false, "", 0},
        {"http://a.example:99999/", false, "", 0},
        {"http://a.example:80x/", false, "", 0},
        {"udp://239.0.0.1:1234", false, "", 0},  // connectionless: nothing to try
        {"http:///nohost", false, "", 0},
        {"no address", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        int port = 0;
        EXPECT_EQ(addressServer(c.address, host, port), c.known) << c.address;
        if (c.known) {
            EXPECT_EQ(host, c.host) << c.address;
            EXPECT_EQ(port, c.port) << c.address;
        }
    }
}

TEST(Alternatives, TheFirstServerThatDoesNotRefuseIsOpened) {
    const std::vector<std::string> addresses = {"http://dead.example/1", "udp://239.0.0.1:1",
                                                "http://alive.example/3"};
    std::vector<std::string> tried;
    auto answers = [&](const std::vector<std::string>& refusing) {
        return [&tried, refusing](const std::string& host, int, int) {
            tried.push_back(host);
            for (const std::string& r : refusing)
                if (host == r) return serverRefuses;
            return serverAccepts;
        };
    };
    EXPECT_EQ(firstAnsweringAddress(addresses, answers({}), 100), addresses[0]);
    EXPECT_EQ(tried, std::vector<std::string>{"dead.example"});
    tried.clear();
    // A connectionless address cannot be tried: it is taken as it is.
    EXPECT_EQ(firstAnsweringAddress(addresses, answers({"dead.example"}), 100), addresses[1]);
    const std::vector<std::string> tcp = {"http://dead.example/1", "http://gone.example/2",
                                          "http://alive.example/3"};
    EXPECT_EQ(firstAnsweringAddress(tcp, answers({"dead.example", "gone.example"}), 100), tcp[2]);
    // Every server refusing: the first, for the player to say why.
    EXPECT_EQ(firstAnsweringAddress(tcp, answers({"dead.example", "gone.example", "alive.example"}), 100),
              tcp[0]);
    // A host that cannot be looked up is not a refusal.
    auto unknown = [](const std::string&, int, int) { return serverUnknown; };
    EXPECT_EQ(firstAnsweringAddress(tcp, unknown, 100), tcp[0]);
}

// The choice among alternatives runs beside the wall: starting it returns
// while a server keeps it waiting, a newer choice is taken as soon as it is
// made, and the older one, once its server answers, is never taken.
TEST(Alternatives, ChoosingDoesNotKeepTheWallWaitingAndOnlyTheNewestIsTaken) {
    const auto takeWithin = [](std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::optional<ChosenAddress> taken;
        while (!(taken = takeChosenAddress()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return taken;
    };
    std::promise<void> release, firstEnded;
    std::shared_future<void> released = release.get_future().share();
    // Set when the first choice's thread lets go of its server try.
    std::shared_ptr<void> endSignal(nullptr, [&firstEnded](void*) { firstEnded.set_value(); });
    ServerTry slowServer = [released, endSignal](const std::string&, int, int) {
        released.wait();
        return serverRefuses;
    };
    endSignal.reset();
    startChoosingAddress({"http://slow.example/1", "http://slow.example/2"}, "Slow", std::move(slowServer),
                         100);
    EXPECT_FALSE(takeChosenAddress()) << "nothing is chosen while the server keeps it waiting";

    const auto accepting = [](const std::string&, int, int) { return serverAccepts; };
    startChoosingAddress({"http://dead.example/1", "http://fast.example/2"}, "Fast", accepting, 100);
    const std::optional<ChosenAddress> newest = takeWithin(std::chrono::seconds(10));
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->address, "http://dead.example/1");
    EXPECT_EQ(newest->title, "Fast");
    EXPECT_FALSE(takeChosenAddress()) << "a choice is taken once";

    release.set_value();
    ASSERT_EQ(firstEnded.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(takeChosenAddress()) << "the older choice was taken after the newer";

    // A choice dropped (another channel opened meanwhile) is never taken.
    std::promise<void> hold;
    std::shared_future<void> held = hold.get_future().share();
    startChoosingAddress({"http://a.example/1", "http://b.example/2"}, "Dropped",
                         [held](const std::string&, int, int) {
                             held.wait();
                             return serverAccepts;
                         },
                         100);
    dropAddressChoice();
    hold.set_value();
    EXPECT_FALSE(takeWithin(std::chrono::seconds(1)));
}

TEST(Alternatives, ARealRefusalIsToldFromARealServer) {
    const int listening = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listening, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    EXPECT_EQ(tryServer("127.0.0.1", port, 2000), serverAccepts);
    close(listening);
    EXPECT_EQ(tryServer("127.0.0.1", port, 2000), serverRefuses);
    EXPECT_EQ(tryServer("", 80, 100), serverUnknown);
}

// The playlists an import came from, and when the wall refreshes them.
TEST(PlaylistRefresh, SourcesRoundTripAndDamagedFilesAreRefused) {
    RememberedSources sources;
    sources.sources = {{"https://p.example/list.m3u?token=1", "\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT"},
                       {"/home/me/own.m3u", "1765432100000000000 4096", ""}};
    sources.groups = {"News", "Films & Series"};
    sources.keepDuplicates = true;
    sources.importedAt = 1765432100;
    sources.refreshSeconds = 3600;
    const std::string text = formatSources(sources);
    RememberedSources read;
    std::string problem;
    ASSERT_TRUE(parseSources(text, read, problem)) << problem;
    EXPECT_EQ(formatSources(read), text);
    EXPECT_EQ(read.sources[0].validator, "\"v1\"");
    EXPECT_TRUE(read.keepDuplicates);

    const std::pair<std::string, const char*> damaged[] = {
        {"", "empty"},
        {"quillon-sources 2\nsource\ta\t\t\n", "does not start"},
        {"quillon-sources 1\nimported\t1\n", "names no playlist"},
        {"quillon-sources 1\nsource\ta\t\t\nevery\t0\n", "not a line"},
        {"quillon-sources 1\nsource\ta\t\t\nwhat\n", "not a line"},
        {"quillon-sources 1\nsource\ta\x01\t\t\n", "control character"},
        {"quillon-sources 1\nsource\t\t\t\n", "not a line"},
        {"quillon-sources 1\nimported\t-5\nsource\ta\t\t\n", "not a line"},
    };
    for (const auto& [bytes, words] : damaged) {
        EXPECT_FALSE(parseSources(bytes, read, problem)) << bytes;
        EXPECT_NE(problem.find(words), std::string::npos) << bytes << ": " << problem;
    }
    EXPECT_EQ(sourceField("a\tb\nc"), "abc");
}

TEST(PlaylistRefresh, DueOncePerIntervalAndNeverInALoop) {
    RememberedSources sources;
    sources.importedAt = 1000;
    sources.refreshSeconds = 3600;
    EXPECT_FALSE(refreshDue(sources, 1000 + 3599));
    EXPECT_TRUE(refreshDue(sources, 1000 + 3600));
    EXPECT_TRUE(refreshDue(sources, 999));  // a clock set back
    struct Case {
        bool due, running, attempted;
        long long since, interval;
        bool start;
    };
    const Case cases[] = {
        {true, false, false, 0, 3600, true},          // the first time it is due
        {false, false, false, 0, 3600, false},        // not due
        {true, true, false, 0, 3600, false},          // one runs already
        {true, false, true, 3599999, 3600, false},    // tried within the interval (it failed, or 304)
        {true, false, true, 3600000, 3600, true},     // an interval later
        {true, false, true, 59999, 2, false},         // a short interval: still a minute apart
        {true, false, true, 60000, 2, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(refreshAttemptDue(c.due, c.running, c.attempted, c.since, c.interval), c.start)
            << c.due << c.running << c.attempted << " " << c.since << " " << c.interval;
}
