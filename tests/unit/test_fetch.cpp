// Downloads through the shared libcurl setup against a real server on
// 127.0.0.1 (tests/support/logo_server.py): the byte cap stops a body while
// it arrives or when its size is said, redirects to other protocols and
// redirect loops are refused, a conditional request with the validators the
// server sent is answered 304 without a body, validators that are not one
// plain line are never sent, and a port where nothing listens gives a reason.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fetch/fetch.h"
#include "tests/support/logo_server.h"

namespace {

namespace fs = std::filesystem;

class Fetching : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = newServerFolder();
        ASSERT_FALSE(folder.empty());
        fs::create_directories(folder + "/files");
        std::ofstream(folder + "/files/listing.txt") << "#EXTM3U\n#EXTINF:-1,One\nhttp://one/\n";
        // Where the server's /moved.png redirects to.
        std::ofstream(folder + "/files/alpha.png") << "not really a picture";
        server = new LogoServer;
        ASSERT_TRUE(server->start(folder + "/files", folder)) << "the server did not start";
    }
    static void TearDownTestSuite() { endServer(server, folder); }
    void SetUp() override { ASSERT_NE(server, nullptr); }

    static FetchRequest request(const std::string& path) {
        FetchRequest asked;
        asked.address = server->address(path);
        asked.limits.maxBytes = 1 << 20;
        asked.limits.connectSeconds = 5;
        asked.limits.totalSeconds = 20;
        asked.userAgent = "quillon-test";
        return asked;
    }

    static std::string folder;
    static LogoServer* server;
};

std::string Fetching::folder;
LogoServer* Fetching::server = nullptr;

struct Case {
    const char* what;
    std::string path;
    unsigned long long maxBytes;
    bool failOnHttpError;
    FetchEnd end;
    long status;
    std::string reason;  // a part of fetchReason's words; empty: none
};

TEST_F(Fetching, EachWayADownloadEnds) {
    const Case cases[] = {
        {"a file", "/good/listing.txt", 1 << 20, true, fetchDone, 200, ""},
        {"an endless body stopped at the cap", "/endless.png", 256 << 10, false, fetchTooLarge,
         200, "larger than 262144 bytes"},
        {"a size said beyond the cap", "/huge.png", 1 << 20, false, fetchTooLarge, 200,
         "larger than"},
        {"a redirect to ftp", "/to-ftp.png", 1 << 20, false, fetchRefusedProtocol, 302,
         "redirected to an address that is neither http nor https"},
        {"a redirect loop", "/loop.png", 1 << 20, false, fetchTooManyRedirects, 302,
         "too many redirects (more than 5)"},
        {"a redirect followed", "/moved.png", 1 << 20, true, fetchDone, 200, ""},
        {"not there, refused", "/nothing", 1 << 20, true, fetchHttpError, 404,
         "the server answered 404"},
        {"not there, kept", "/nothing", 1 << 20, false, fetchDone, 404, "the server answered 404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FetchRequest asked = request(c.path);
        asked.limits.maxBytes = c.maxBytes;
        asked.failOnHttpError = c.failOnHttpError;
        std::string body;
        const FetchResult result = fetchOnce(asked, [&](const char* data, size_t size) {
            body.append(data, size);
            return true;
        });
        EXPECT_EQ(result.end, c.end) << result.detail;
        EXPECT_EQ(result.status, c.status);
        EXPECT_LE(body.size(), c.maxBytes);
        EXPECT_EQ(result.received, body.size());
        const std::string reason = fetchReason(asked, result);
        if (c.reason.empty())
            EXPECT_EQ(reason, "");
        else
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        if (c.end == fetchHttpError) {
            EXPECT_TRUE(body.empty()) << "an error page went to the receiver";
        }
    }
}

TEST_F(Fetching, AnUnchangedFileIsAnswered304WithItsValidators) {
    const FetchBody ignore = [](const char*, size_t) { return true; };
    const FetchResult first = fetchOnce(request("/good/listing.txt"), ignore);
    ASSERT_EQ(first.end, fetchDone);
    ASSERT_EQ(first.status, 200);
    ASSERT_FALSE(first.validators.etag.empty());
    ASSERT_FALSE(first.validators.lastModified.empty());

    FetchRequest again = request("/good/listing.txt");
    again.validators = first.validators;
    bool anyBody = false;
    const FetchResult second = fetchOnce(again, [&](const char*, size_t) {
        anyBody = true;
        return true;
    });
    EXPECT_EQ(second.end, fetchDone);
    EXPECT_EQ(second.status, 304);
    EXPECT_FALSE(anyBody);
    EXPECT_EQ(second.validators.etag, first.validators.etag);
    EXPECT_EQ(fetchReason(again, second), "");
    EXPECT_EQ(server->requests().back(), "/good/listing.txt conditional");
}

TEST_F(Fetching, OnlyPlainValidatorsAreSent) {
    const std::string tooLong(fetchMaxValidator + 1, 'x');
    for (const std::string& bad : {std::string("\"a\"\r\nX-Injected: 1"), tooLong}) {
        FetchRequest asked = request("/good/listing.txt?plain");
        asked.validators = {bad, bad};
        const FetchResult result = fetchOnce(asked, [](const char*, size_t) { return true; });
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(server->requests().back(), "/good/listing.txt?plain plain");
    }
}

TEST_F(Fetching, TheReceiverCanStopADownload) {
    size_t pieces = 0;
    const FetchResult result = fetchOnce(request("/endless.png"), [&](const char*, size_t) {
        ++pieces;
        return false;
    });
    EXPECT_EQ(result.end, fetchStopped);
    EXPECT_EQ(pieces, 1u);
}

TEST(FetchingElsewhere, AddressesThatAreNotFetchedGiveAReason) {
    const int port = closedPort();
    ASSERT_GT(port, 0);
    setenv("no_proxy", "*", 1);
    struct Refused {
        std::string address;
        FetchEnd end;
        std::string reason;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(port) + "/", fetchNotConnected,
         "cannot connect to 127.0.0.1"},
        {"file:///etc/passwd", fetchRefusedProtocol, "neither http nor https"},
        {"ftp://127.0.0.1:" + std::to_string(port) + "/", fetchRefusedProtocol,
         "neither http nor https"},
        {"http://", fetchBadAddress, "not a valid address"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.address);
        FetchRequest asked;
        asked.address = c.address;
        asked.limits.maxBytes = 1024;
        asked.limits.connectSeconds = 5;
        asked.limits.totalSeconds = 10;
        bool anyBody = false;
        const FetchResult result = fetchOnce(asked, [&](const char*, size_t) {
            anyBody = true;
            return true;
        });
        EXPECT_EQ(result.end, c.end) << result.detail;
        EXPECT_FALSE(anyBody);
        EXPECT_NE(fetchReason(asked, result).find(c.reason), std::string::npos)
            << fetchReason(asked, result);
    }
}

// The card maker drives its handles through a multi handle: each prepared
// alike, each ending in its own result.
TEST_F(Fetching, HandlesOfAMultiHandleEndAlike) {
    startFetching();
    CURLM* multi = curl_multi_init();
    ASSERT_NE(multi, nullptr);
    const std::string paths[] = {"/good/listing.txt", "/to-ftp.png", "/endless.png"};
    const FetchEnd ends[] = {fetchDone, fetchRefusedProtocol, fetchTooLarge};
    struct Running {
        CURL* easy = nullptr;
        FetchTransfer transfer;
        std::string body;
    } running[3];
    for (int i = 0; i < 3; ++i) {
        running[i].easy = curl_easy_init();
        ASSERT_NE(running[i].easy, nullptr);
        FetchRequest asked = request(paths[i]);
        asked.limits.maxBytes = 64 << 10;
        std::string& body = running[i].body;
        ASSERT_TRUE(prepareFetch(running[i].easy, running[i].transfer, asked,
                                 [&body](const char* data, size_t size) {
                                     body.append(data, size);
                                     return true;
                                 }));
        ASSERT_EQ(curl_multi_add_handle(multi, running[i].easy), CURLM_OK);
    }
    int finished = 0;
    for (int left = 3; left > 0;) {
        curl_multi_perform(multi, &left);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            for (int i = 0; i < 3; ++i) {
                if (running[i].easy != message->easy_handle) continue;
                const FetchResult result =
                    finishFetch(running[i].easy, running[i].transfer, message->data.result);
                EXPECT_EQ(result.end, ends[i]) << paths[i] << ": " << result.detail;
                ++finished;
            }
        }
        if (left > 0) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    EXPECT_EQ(finished, 3);
    EXPECT_NE(running[0].body.find("#EXTM3U"), std::string::npos);
    for (Running& r : running) {
        curl_multi_remove_handle(multi, r.easy);
        curl_easy_cleanup(r.easy);
    }
    curl_multi_cleanup(multi);
}

}  // namespace
