// Bringing a user's data root up to date with a newer template: delivered
// files arrive, what the user owns stays, and a kill at any moment leaves
// the old root or the new one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "catalogue/root_files.h"
#include "catalogue/upgrade.h"
#include "tests/support/scratch.h"
#include "tools/data_check.h"
#include "tools/make_data.h"

namespace {

namespace fs = std::filesystem;

const std::string textRoot = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME";

TEST(RootVersion, DottedNumbersCompareNumerically) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"0.2.0", "0.2.0", 0}, {"0.2", "0.2.0", 0},   {"0.2.0", "0.10.0", -1},
        {"1.0", "0.99.9", 1},  {"0.2.0\n", "0.2.0", 0}, {"", "0.1.0", -1},
        {"junk", "0.1.0", -1}, {"0.1.0", "", 1},       {"", "", 0},
        {"1..2", "1.2", -1},   {"0.2.0-rc1", "0.1.0", -1},
    };
    for (const Case& c : cases) {
        const int order = compareVersions(c.a, c.b);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.a << " vs " << c.b;
    }
}

TEST(DirectoryMerge, KeepsDeliveredEntriesAndAddsEveryUserEntryAfterThem) {
    const std::string delivered = "# delivered\n1\thttps://one.example/\n2\thttps://two-new.example/\n"
                                  "3\thttps://three.example/";
    const std::string user = "1\thttps://one.example/\n2\thttps://two-old.example/\n"
                             "5\thttps://removed-later.example/\n"
                             "10000\thttps://stream.example/a.m3u8\tmedia\n"
                             "10001\trtsp://cam.example/s\tmedia\r\n# note\nbroken line\n";
    EXPECT_EQ(mergeUrlDirectories(delivered, user),
              "# delivered\n1\thttps://one.example/\n2\thttps://two-new.example/\n"
              "3\thttps://three.example/\n5\thttps://removed-later.example/\n"
              "10000\thttps://stream.example/a.m3u8\tmedia\n10001\trtsp://cam.example/s\tmedia\n");
    // Merging again changes nothing.
    const std::string once = mergeUrlDirectories(delivered, user);
    EXPECT_EQ(mergeUrlDirectories(delivered, once), once);
}

// A sample root made once as version 0.1.0's template, and the same with a
// changed model, a changed placeholder and a new directory entry as 0.2.0's.
class RootUpgrade : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char name[] = "/tmp/quillon-upgrade-XXXXXX";
        folder = mkdtemp(name) ? name : "";
        std::string error;
        if (folder.empty() || !makeDataRoot(folder + "/old", textRoot, makeReplace, error)) return;
        writeFile(folder + "/old/VESTRALUME/version.txt", "0.1.0\n");
        std::error_code code;
        fs::copy(folder + "/old", folder + "/new", fs::copy_options::recursive, code);
        const std::string root = folder + "/new/VESTRALUME/";
        writeFile(root + "version.txt", "0.2.0\n");
        writeFile(root + "n/w.txt", readFile(root + "n/w.txt") + "# a newer model\n");
        fs::copy_file(root + "i/2.jpg", root + "i/1.jpg", fs::copy_options::overwrite_existing, code);
        writeFile(root + "links.tsv", readFile(root + "links.tsv") + "1291\thttps://new.example/\n");
        made = !code;
    }
    static void TearDownTestSuite() {
        std::error_code code;
        if (!folder.empty()) fs::remove_all(folder, code);
    }

    // A user's root: the old template copied and used.
    std::string makeUser(bool imported) {
        const std::string user = folder + "/user";
        std::error_code code;
        fs::remove_all(user, code);
        fs::copy(folder + "/old", user, fs::copy_options::recursive, code);
        const std::string root = user + "/VESTRALUME/";
        writeFile(root + "n/b.txt", "7");
        writeFile(root + "n/u.txt", "2.1");
        writeFile(root + "n/d.txt", "1");
        writeFile(root + "links.tsv", readFile(root + "links.tsv") + "10000\thttps://s.example/a.m3u8\tmedia\n");
        if (imported) {
            writeFile(root + "1/count.txt", "20");
            writeFile(root + "1/1.txt", "10000\nMy stream\n");
        }
        // The first favourite: a whole copy of catalogue channel 1.
        fs::copy_file(root + "1/1.Quillon", root + "2/1.Quillon", fs::copy_options::overwrite_existing);
        fs::copy_file(root + "1/1.txt", root + "2/1.txt", fs::copy_options::overwrite_existing);
        return user;
    }

    static std::string folder;
    static bool made;
};

std::string RootUpgrade::folder;
bool RootUpgrade::made = false;

TEST_F(RootUpgrade, DeliveredFilesArriveAndWhatTheUserOwnsStays) {
    ASSERT_TRUE(made);
    const std::string fresh = folder + "/new/VESTRALUME/";
    for (bool imported : {false, true}) {
        const std::string user = makeUser(imported);
        const std::string root = user + "/VESTRALUME/";
        // A hard link to the user's old model: the upgrade must not write
        // through the links it shares with the old root.
        fs::create_hard_link(root + "n/w.txt", folder + "/old-model-link");
        const std::string oldModel = readFile(root + "n/w.txt");

        std::string message;
        ASSERT_EQ(upgradeDataRoot(fresh, user, message), upgradeDone) << message;
        EXPECT_NE(message.find("0.1.0 -> 0.2.0"), std::string::npos) << message;
        EXPECT_EQ(readFile(root + "version.txt"), "0.2.0\n");
        EXPECT_EQ(readFile(root + "n/w.txt"), readFile(fresh + "n/w.txt"));
        EXPECT_EQ(readFile(root + "i/1.jpg"), readFile(fresh + "i/1.jpg"));
        EXPECT_EQ(readFile(folder + "/old-model-link"), oldModel);
        fs::remove(folder + "/old-model-link");
        const std::string links = readFile(root + "links.tsv");
        EXPECT_NE(links.find("1291\thttps://new.example/\n"), std::string::npos);
        EXPECT_NE(links.find("10000\thttps://s.example/a.m3u8\tmedia\n"), std::string::npos);
        EXPECT_EQ(readFile(root + "n/b.txt"), "7");
        EXPECT_EQ(readFile(root + "n/u.txt"), "2.1");
        EXPECT_EQ(readFile(root + "n/d.txt"), "1");
        EXPECT_EQ(readFile(root + "2/1.Quillon"), readFile(fresh + "1/1.Quillon"));
        EXPECT_EQ(readFile(root + "2/1.txt"), imported ? "10000\nMy stream\n" : readFile(fresh + "1/1.txt"));
        EXPECT_EQ(readFile(root + "1/count.txt"), imported ? "20" : "");
        EXPECT_EQ(readFile(root + "1/1.txt"), imported ? "10000\nMy stream\n" : readFile(fresh + "1/1.txt"));
        EXPECT_FALSE(fs::exists(user + "/.VESTRALUME.upgrade"));
        EXPECT_EQ(checkDataRoot(user), std::vector<std::string>{}) << (imported ? "imported" : "delivered");

        // Once up to date, nothing more happens.
        message.clear();
        EXPECT_EQ(upgradeDataRoot(fresh, user, message), upgradeNotNeeded);
        EXPECT_EQ(message, "");
    }
}

TEST_F(RootUpgrade, ARootFromANewerVersionIsLeftAlone) {
    ASSERT_TRUE(made);
    const std::string user = makeUser(false);
    writeFile(user + "/VESTRALUME/version.txt", "0.9.0\n");
    std::string message;
    EXPECT_EQ(upgradeDataRoot(folder + "/new/VESTRALUME", user, message), upgradeNewerRoot);
    EXPECT_NE(message.find("newer Quillon (0.9.0)"), std::string::npos) << message;
    EXPECT_NE(readFile(user + "/VESTRALUME/n/w.txt"), readFile(folder + "/new/VESTRALUME/n/w.txt"));
}

// Kills an upgrade at random moments: every time the root is the old one or
// the new one, whole, and the next upgrade finishes the job. The moments are
// spread over the time one whole upgrade takes on this machine.
TEST_F(RootUpgrade, AKillAtAnyMomentLeavesTheOldRootOrTheNewOne) {
    ASSERT_TRUE(made);
    const std::string fresh = folder + "/new/VESTRALUME";
    const std::string oldModel = readFile(folder + "/old/VESTRALUME/n/w.txt");
    const std::string newModel = readFile(fresh + "/n/w.txt");
    std::string message;
    std::string user = makeUser(false);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(upgradeDataRoot(fresh, user, message), upgradeDone) << message;
    const long whole = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - start).count();

    std::mt19937 random(20261210);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 4; ++round) {
        user = makeUser(round % 2 == 1);
        const pid_t child = fork();
        if (child == 0) _exit(upgradeDataRoot(fresh, user, message) == upgradeDone ? 0 : 1);
        usleep(static_cast<useconds_t>(std::uniform_int_distribution<long>(0, whole * 11 / 10)(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        const std::string root = user + "/VESTRALUME/";
        const std::string version = readFile(root + "version.txt");
        const std::string model = readFile(root + "n/w.txt");
        if (version == "0.1.0\n") {
            ++sawOld;
            EXPECT_EQ(model, oldModel) << "round " << round;
        } else {
            ++sawNew;
            EXPECT_EQ(version, "0.2.0\n") << "round " << round;
            EXPECT_EQ(model, newModel) << "round " << round;
            EXPECT_NE(readFile(root + "links.tsv").find("1291\thttps://new.example/"), std::string::npos);
        }
        EXPECT_EQ(readFile(root + "n/b.txt"), "7") << "round " << round;
        EXPECT_EQ(readFile(root + "2/1.txt"), readFile(root + "1/1.txt")) << "round " << round;
        EXPECT_NE(readFile(root + "links.tsv").find("10000\thttps://s.example/a.m3u8\tmedia"),
                  std::string::npos) << "round " << round;

        const UpgradeOutcome again = upgradeDataRoot(fresh, user, message);
        EXPECT_TRUE(again == upgradeDone || again == upgradeNotNeeded) << message;
        EXPECT_EQ(readFile(root + "n/w.txt"), newModel);
        EXPECT_FALSE(fs::exists(user + "/.VESTRALUME.upgrade"));
    }
    // The last root, killed and finished, is sound as a whole.
    EXPECT_EQ(checkDataRoot(user), std::vector<std::string>{});
    std::printf("one upgrade: %ld ms; kills left the old root %d times, the new one %d times\n",
                whole / 1000, sawOld, sawNew);
}

}  // namespace
