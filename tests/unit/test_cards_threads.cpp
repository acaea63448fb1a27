// The card maker draws several cards at once, each thread scaling its own
// logos with libvips. Scaling builds and frees libvips operations whose
// vector code (liborc) was once compiled per operation and freed without a
// lock shared by the threads: one cold import in ten or so ended in
// "double free or corruption" or a crash. These tests run the same work with
// more threads than the importer uses, so that such a race shows within one
// run of the test. They prove most in a build without sanitizers, whose
// timing is the importer's own; continuous integration runs them there too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>
#include <vips/vector.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cards/cards.h"
#include "cards/logo_image.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Builds with sanitizers run the same work several times slower and hide the
// race anyway; they run a part of it, enough to prove the code paths.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// QUILLON_TEST_WITH_VECTOR_CODE=1 runs the tests with libvips's vector code
// on, as the card maker had it, to see how often the race they guard
// against strikes.
void withVectorCodeWhenAsked() {
    const char* asked = std::getenv("QUILLON_TEST_WITH_VECTOR_CODE");
    if (asked && std::string(asked) == "1") vips_vector_set_enabled(TRUE);
}

// A logo as a person's provider serves it: 400 x 225 pixels, one colour per
// logo so that no two are alike, with a lighter band across it.
std::string pngLogo(int index, int width = 400, int height = 225) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            const bool band = y > height / 3 && y < height * 2 / 3;
            p[0] = static_cast<unsigned char>((index * 37 + (band ? 90 : 0)) % 256);
            p[1] = static_cast<unsigned char>((index * 91 + x / 4) % 256);
            p[2] = static_cast<unsigned char>((index * 53 + y / 4) % 256);
        }
    VipsImage* image = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width,
                                                       height, 3, VIPS_FORMAT_UCHAR);
    if (!image) return std::string();
    void* buffer = nullptr;
    size_t length = 0;
    std::string bytes;
    if (vips_pngsave_buffer(image, &buffer, &length, "compression", 1, nullptr) == 0)
        bytes.assign(static_cast<const char*>(buffer), length);
    g_free(buffer);
    g_object_unref(image);
    return bytes;
}

// Small logos scale in a fraction of a millisecond, so that the threads
// build and free scaling operations as often as they can.
TEST(CardThreads, ManyThreadsScaleLogosAtOnce) {
    ASSERT_TRUE(startImageLibrary());
    withVectorCodeWhenAsked();
    std::vector<std::string> logos;
    for (int i = 0; i < 40; ++i) {
        logos.push_back(pngLogo(i, 40 + i % 7 * 6, 24 + i % 5 * 4));
        ASSERT_FALSE(logos.back().empty());
    }
    const int threadCount = 8;
    const int perThread = sanitized ? 300 : 2000;
    std::atomic<int> decoded{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                RgbaImage logo;
                std::string problem;
                // Boxes of several sizes, as logos of several shapes get.
                const int box = 12 + (i + t) % 5 * 3;
                if (decodeLogo(logos[(i * 7 + t) % logos.size()], box * 2, box, logo, problem) &&
                    logo.width > 0 && logo.height > 0)
                    ++decoded;
                else
                    ++failed;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(decoded.load(), threadCount * perThread);
}

// python3 -m http.server on 127.0.0.1, serving a folder; its port is read
// from the line it prints when it listens.
class FolderServer {
public:
    bool start(const std::string& folder, const std::string& work) {
        const std::string log = work + "/server.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> arguments = {QUILLON_PYTHON, "-u", "-m", "http.server", "0",
                                              "--bind", "127.0.0.1", "--directory", folder};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int status = posix_spawn(&pid_, QUILLON_PYTHON, &actions, nullptr, argv.data(),
                                       environ);
        posix_spawn_file_actions_destroy(&actions);
        if (status != 0) {
            pid_ = -1;
            return false;
        }
        // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            std::ifstream in(log);
            std::string line;
            std::getline(in, line);
            const size_t at = line.find(" port ");
            if (at != std::string::npos) {
                port_ = std::atoi(line.c_str() + at + 6);
                if (port_ > 0) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    ~FolderServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// A first import's cards as a person's first import makes them: 2,000
// channels sharing 500 logos fetched from a server on this machine, with an
// empty card cache each round, drawn on more threads than processors.
TEST(CardThreads, ColdImportsOfFiveHundredServedLogos) {
    ASSERT_TRUE(startImageLibrary());
    withVectorCodeWhenAsked();
    const fs::path work = fs::temp_directory_path() /
                          ("quillon-card-threads-" + std::to_string(getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "logos");
    for (int i = 0; i < 500; ++i) {
        const std::string bytes = pngLogo(i);
        ASSERT_FALSE(bytes.empty());
        std::ofstream(work / "logos" / (std::to_string(i) + ".png"), std::ios::binary) << bytes;
    }
    FolderServer server;
    ASSERT_TRUE(server.start((work / "logos").string(), work.string()));

    const int rounds = sanitized ? 1 : 6;
    const int channels = 2000;
    for (int round = 0; round < rounds; ++round) {
        const fs::path cards = work / ("cards-" + std::to_string(round));
        fs::create_directories(cards);
        std::vector<CardRequest> requests(channels);
        for (int i = 0; i < channels; ++i) {
            requests[i].name = "Channel " + std::to_string(i + 1);
            requests[i].number = i + 1;
            requests[i].logo = "http://127.0.0.1:" + std::to_string(server.port()) + "/" +
                               std::to_string(i % 500) + ".png";
            requests[i].output = (cards / (std::to_string(i + 1) + ".Quillon")).string();
        }
        CardOptions options;
        options.cacheFolder = (work / ("cache-" + std::to_string(round))).string();
        options.drawingThreads = 8;
        const std::vector<CardResult> results = makeCards(requests, options);
        ASSERT_EQ(results.size(), requests.size());
        int drawnWithLogo = 0;
        for (const CardResult& result : results) {
            EXPECT_TRUE(result.written) << result.problem;
            if (result.logo == logoFetched || result.logo == logoCached) ++drawnWithLogo;
        }
        EXPECT_EQ(drawnWithLogo, channels) << "round " << round;
        fs::remove_all(cards);
        fs::remove_all(options.cacheFolder);
    }
    fs::remove_all(work);
}

}  // namespace
