// Fetching logos from a real server: tests/support/logo_server.py on
// 127.0.0.1 serves good logos of every format and fails in every way a
// server can (slow answers, an endless body, a huge claimed size, a PNG
// claiming 50,000 x 50,000 pixels, a redirect loop, a web page instead of an
// image, 404). Cards are made for all of them in bounded time, with name
// cards where logos fail; a second run asks the server nothing (its log
// says so), a stale cache is revalidated, and offline runs and unreachable
// servers end quickly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cards/cards.h"
#include "tests/support/logo_server.h"
#include "tests/unit/card_fixtures.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class LogoFetching : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = newServerFolder();
        ASSERT_FALSE(folder.empty());
        fs::create_directories(folder + "/logos");
        fs::create_directories(folder + "/out");
        logos = cardfixtures::writeLogos(folder + "/logos");
        server = new LogoServer;
        ASSERT_TRUE(server->start(folder + "/logos", folder)) << "the logo server did not start";
    }
    static void TearDownTestSuite() { endServer(server, folder); }
    void SetUp() override { ASSERT_NE(server, nullptr); }

    static CardOptions quickOptions(const std::string& cache) {
        CardOptions options;
        options.cacheFolder = folder + "/" + cache;
        options.connectTimeout = 2;
        options.fetchTimeout = 3;
        return options;
    }
    static std::string output(const std::string& name) { return folder + "/out/" + name + ".jpg"; }

    static std::string folder;
    static std::vector<std::string> logos;
    static LogoServer* server;
};

std::string LogoFetching::folder;
std::vector<std::string> LogoFetching::logos;
LogoServer* LogoFetching::server = nullptr;

struct Expected {
    std::string path;
    LogoOutcome first;
    const char* words;  // in the problem of a failure
};

TEST_F(LogoFetching, EveryFailingServerEndsInANameCardAndNothingIsAskedTwice) {
    std::vector<Expected> expected;
    for (const std::string& logo : logos) expected.push_back({"/good/" + logo, logoFetched, ""});
    const Expected others[] = {
        {"/moved.png", logoFetched, ""},
        {"/mislabelled.png", logoFetched, ""},  // an image, whatever the server calls it
        {"/slow.png", logoFailed, "took longer than 3 s"},
        {"/endless.png", logoFailed, "larger than the 5 MiB"},
        {"/huge.png", logoFailed, "larger than the 5 MiB"},
        {"/bomb.png", logoFailed, "50000 x 50000"},
        {"/loop.png", logoFailed, "too many redirects"},
        {"/to-ftp.png", logoFailed, "neither http nor https"},
        {"/page.png", logoFailed, "text/html"},
        {"/empty.png", logoFailed, "empty file"},
        {"/missing.png", logoFailed, "answered 404"},
    };
    expected.insert(expected.end(), std::begin(others), std::end(others));
    std::vector<CardRequest> cardRequests;
    for (size_t i = 0; i < expected.size(); ++i)
        cardRequests.push_back({"Channel " + std::to_string(i + 1), static_cast<int>(i + 1),
                         server->address(expected[i].path), output("a" + std::to_string(i))});
    // Channels sharing a logo: it is fetched once.
    for (int copy = 0; copy < 3; ++copy)
        cardRequests.push_back({"Shared " + std::to_string(copy), 100 + copy,
                         server->address("/good/alpha.png"), output("s" + std::to_string(copy))});

    CardOptions options = quickOptions("cache");
    const auto start = Clock::now();
    const std::vector<CardResult> first = makeCards(cardRequests, options);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Not a speed goal: the slow and the endless answers must not hold the
    // run up beyond their time limits.
    EXPECT_LT(seconds, 60) << "makeCards waited on a server beyond its limits";
    ASSERT_EQ(first.size(), cardRequests.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_TRUE(first[i].written) << first[i].problem;
        EXPECT_TRUE(first[i].remade);
        EXPECT_EQ(first[i].logo, expected[i].first) << first[i].problem;
        EXPECT_NE(first[i].problem.find(expected[i].words), std::string::npos) << first[i].problem;
        EXPECT_TRUE(fs::file_size(cardRequests[i].output) > 1000);
    }
    const std::vector<std::string> asked = server->requests();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/good/alpha.png plain"), 1)
        << "a logo shared by channels is fetched once";

    // At once again: every answer comes from the cache, the server hears
    // nothing, and no card is drawn again.
    const std::vector<CardResult> second = makeCards(cardRequests, options);
    EXPECT_EQ(server->requests(), asked) << "the server was asked again";
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_FALSE(second[i].remade);
        EXPECT_EQ(second[i].logo, expected[i].first == logoFetched ? logoCached : logoFailed);
        EXPECT_EQ(second[i].problem, first[i].problem);
    }

    // Once the cache is stale, good logos are only revalidated: the server
    // answers "not modified", nothing is fetched or drawn again.
    std::vector<CardRequest> good;
    for (size_t i = 0; i < logos.size(); ++i) good.push_back(cardRequests[i]);
    options.logoFreshSeconds = 0;
    const std::vector<CardResult> third = makeCards(good, options);
    const std::vector<std::string> revalidated = server->requests();
    ASSERT_EQ(revalidated.size(), asked.size() + good.size());
    for (size_t i = asked.size(); i < revalidated.size(); ++i)
        EXPECT_NE(revalidated[i].find(" conditional"), std::string::npos) << revalidated[i];
    for (const CardResult& result : third) {
        EXPECT_EQ(result.logo, logoCached) << result.problem;
        EXPECT_FALSE(result.remade);
    }

    // Offline, the cached logos still make their cards.
    options.network = false;
    const std::vector<CardResult> offline = makeCards(good, options);
    for (const CardResult& result : offline) EXPECT_EQ(result.logo, logoCached);
    EXPECT_EQ(server->requests().size(), revalidated.size());
}

TEST_F(LogoFetching, OfflineAndUnreachableServersEndQuicklyInNameCards) {
    std::vector<CardRequest> cardRequests;
    for (int i = 0; i < 30; ++i)
        cardRequests.push_back({"Channel", i + 1, server->address("/good/alpha.png?" + std::to_string(i)),
                         output("o" + std::to_string(i))});
    CardOptions options = quickOptions("offline-cache");
    options.network = false;
    const size_t heard = server->requests().size();
    for (const CardResult& result : makeCards(cardRequests, options)) {
        EXPECT_TRUE(result.written);
        EXPECT_EQ(result.logo, logoFailed);
        EXPECT_NE(result.problem.find("offline"), std::string::npos) << result.problem;
    }
    EXPECT_EQ(server->requests().size(), heard);

    // Servers that refuse every connection: the first failure of a server
    // stands for its other logos, and after a run of servers none of which
    // answered the machine counts as offline.
    const int port = closedPort();
    ASSERT_GT(port, 0);
    cardRequests.clear();
    for (int i = 0; i < 40; ++i) {
        const std::string host = "127.0.0." + std::to_string(2 + i % 20);
        cardRequests.push_back(
            {"Channel", i + 1,
             "http://" + host + ":" + std::to_string(port) + "/" + std::to_string(i) + ".png",
             output("u" + std::to_string(i))});
    }
    options = quickOptions("unreachable-cache");
    const auto start = Clock::now();
    const std::vector<CardResult> results = makeCards(cardRequests, options);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 30);
    int refused = 0, offline = 0;
    for (const CardResult& result : results) {
        EXPECT_TRUE(result.written);
        EXPECT_EQ(result.logo, logoFailed);
        refused += result.problem.find("cannot connect") != std::string::npos;
        offline += result.problem.find("no logo server could be reached") != std::string::npos;
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(offline, 0);
    EXPECT_EQ(refused + offline, 40);
    // Connections refused say nothing about the logos: they are asked for
    // again next time rather than remembered as failed.
    options.network = true;
    const std::vector<CardResult> again = makeCards({cardRequests[0]}, options);
    EXPECT_NE(again[0].problem.find("cannot connect"), std::string::npos) << again[0].problem;
}

}  // namespace
