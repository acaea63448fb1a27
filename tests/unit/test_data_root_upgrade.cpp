// Bringing a user's data root up to date with a newer template: delivered
// files arrive, what the user owns stays, and a kill at any moment leaves
// the old root or the new one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "dataroot/root_files.h"
#include "tools/upgrade.h"
#include "platform/folder_exchange.h"
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


// A small root, enough for what the upgrade does with links, versions and
// the switch: the template of version 0.2.0 and users' roots of 0.1.0 with
// a favourite, state and an imported directory entry.
class SmallUpgrade : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quillon-small-upgrade-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        fresh = folder + "/new/VESTRALUME";
        writeRoot(fresh, "0.2.0", "the newer model\n", "1\thttps://one.example/\n1291\thttps://new.example/\n");
        writeFile(fresh + "/n/b.txt", "1");
        writeFile(fresh + "/n/d.txt", "0");
    }
    void TearDown() override {
        std::error_code code;
        fs::remove_all(folder, code);
    }

    static void writeRoot(const std::string& root, const std::string& version, const std::string& model,
                          const std::string& links) {
        for (const char* sub : {"/n", "/1", "/2", "/i"}) fs::create_directories(root + sub);
        writeFile(root + "/version.txt", version + "\n");
        writeFile(root + "/n/w.txt", model);
        writeFile(root + "/links.tsv", links);
        writeFile(root + "/1/1.txt", "1\nOne\n");
        writeFile(root + "/1/1.Quillon", "\xff\xd8 card one");
        writeFile(root + "/i/1.jpg", "\xff\xd8 placeholder of " + version);
    }

    // A user's root of version 0.1.0 in <folder>/user, used: a favourite,
    // a page, an imported directory entry (and catalogue).
    std::string makeUser(bool imported) {
        const std::string user = folder + "/user";
        std::error_code code;
        fs::remove_all(user, code);
        const std::string root = user + "/VESTRALUME";
        writeRoot(root, "0.1.0", "the older model\n",
                  "1\thttps://one.example/\n10000\thttps://s.example/a.m3u8\tmedia\n");
        writeFile(root + "/n/b.txt", "7");
        writeFile(root + "/n/d.txt", "1");
        writeFile(root + "/2/1.txt", "10000\nMy stream\n");
        writeFile(root + "/2/1.Quillon", "\xff\xd8 my favourite's card");
        if (imported) writeFile(root + "/1/count.txt", "20");
        return user;
    }

    std::string folder;
    std::string fresh;
};

// The names in `folder` and everything below them, links not followed.
std::vector<std::string> namesBelow(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code code;
    for (auto entry = fs::recursive_directory_iterator(folder, code);
         !code && entry != fs::recursive_directory_iterator(); entry.increment(code))
        names.push_back(entry->path().lexically_relative(folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

// The names beside the user's root in its folder.
std::vector<std::string> namesBeside(const std::string& user) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(user)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// version.txt as whatever a hostile or unlucky root holds: the upgrade ends
// in time, in bounded memory, with a short message, reading nothing outside
// and writing nothing outside.
TEST_F(SmallUpgrade, AnyVersionFileEndsInTimeAndReadsNothingOutside) {
    const std::string outside = folder + "/outside";
    fs::create_directories(outside);
    writeFile(outside + "/secret.txt", "0.0.1\n");
    struct Case {
        const char* kind;
        void (*make)(const std::string& version, const std::string& outside);
        UpgradeOutcome outcome;
    };
    const Case cases[] = {
        {"a FIFO", [](const std::string& v, const std::string&) { mkfifo(v.c_str(), 0600); }, upgradeDone},
        {"a link to /dev/zero", [](const std::string& v, const std::string&) { fs::create_symlink("/dev/zero", v); },
         upgradeFailed},
        {"a 300 MB first line",
         [](const std::string& v, const std::string&) {
             writeFile(v, "");
             fs::resize_file(v, 300u << 20);
         },
         upgradeDone},
        {"a link to a file outside",
         [](const std::string& v, const std::string& o) { fs::create_symlink(o + "/secret.txt", v); },
         upgradeFailed},
        {"a relative link outside",
         [](const std::string& v, const std::string&) { fs::create_symlink("../../outside/secret.txt", v); },
         upgradeFailed},
    };
    for (const Case& c : cases) {
        const std::string user = makeUser(false);
        const std::string version = user + "/VESTRALUME/version.txt";
        fs::remove(version);
        c.make(version, outside);
        const std::vector<std::string> before = namesBelow(outside);
        const int result = runWithin(20, [&] {
            std::string message;
            const UpgradeOutcome outcome = upgradeDataRoot(fresh, user, message);
            return static_cast<int>(outcome) * 10 + (message.size() < 400 ? 1 : 0);
        });
        EXPECT_EQ(result, static_cast<int>(c.outcome) * 10 + 1) << c.kind;
        EXPECT_EQ(namesBelow(outside), before) << c.kind;
        EXPECT_EQ(readFile(outside + "/secret.txt"), "0.0.1\n") << c.kind;
        EXPECT_EQ(namesBeside(user), std::vector<std::string>{"VESTRALUME"}) << c.kind;
        EXPECT_EQ(readFile(user + "/VESTRALUME/2/1.txt"), "10000\nMy stream\n") << c.kind;
        if (c.outcome == upgradeDone)
            EXPECT_EQ(readFile(version), "0.2.0\n") << c.kind;
        else
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(version))) << c.kind;
    }
}

// Links inside the root are mirrored as links with the same text; a link
// that leads out of it, by its text or by where the links on its way lead,
// refuses the upgrade with a message, and nothing changes inside or beside.
TEST_F(SmallUpgrade, LinksAreMirroredAsLinksAndLinksOutsideAreRefused) {
    struct Case {
        const char* link;    // below the root
        const char* target;  // its text
        bool inside;
    };
    const Case cases[] = {
        {"n/links-copy.tsv", "../links.tsv", true},
        {"n/here", ".", true},
        {"n/dangling.txt", "gone.txt", true},
        {"1/victim", "../../../outside", false},
        {"outside-folder", "..", false},
        {"n/absolute.txt", "/etc/hostname", false},
        {"n/climb.txt", "up/../../../outside/secret.txt", false},  // "up" is below
    };
    fs::create_directories(folder + "/outside");
    for (const Case& c : cases) {
        const std::string user = makeUser(false);
        const std::string root = user + "/VESTRALUME/";
        fs::create_symlink(".", root + "n/up");  // used by the climbing case
        fs::create_symlink(c.target, root + c.link);
        const std::vector<std::string> outside = namesBelow(folder + "/outside");
        std::string message;
        const UpgradeOutcome outcome = upgradeDataRoot(fresh, user, message);
        EXPECT_EQ(outcome, c.inside ? upgradeDone : upgradeFailed) << c.link << ": " << message;
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root + c.link))) << c.link;
        EXPECT_EQ(fs::read_symlink(root + c.link).string(), c.target) << c.link;
        EXPECT_EQ(readFile(root + "version.txt"), c.inside ? "0.2.0\n" : "0.1.0\n") << c.link;
        if (!c.inside) {
            EXPECT_NE(message.find("leads out of the data folder"), std::string::npos) << message;
        }
        EXPECT_EQ(namesBeside(user), std::vector<std::string>{"VESTRALUME"}) << c.link;
        EXPECT_EQ(namesBelow(folder + "/outside"), outside) << c.link;
        // Upgraded again with nothing new: still the same link.
        EXPECT_EQ(upgradeDataRoot(fresh, user, message), c.inside ? upgradeNotNeeded : upgradeFailed);
    }
}

// A root folder that is itself a link is upgraded where it leads: the link
// stays a link, its target carries the new version, and nothing is left
// beside either.
TEST_F(SmallUpgrade, ARootThatIsALinkIsUpgradedInItsTarget) {
    const std::string user = makeUser(false);
    fs::create_directories(user + "/store");
    fs::rename(user + "/VESTRALUME", user + "/store/mine");
    fs::create_symlink("store/mine", user + "/VESTRALUME");
    std::string message;
    ASSERT_EQ(upgradeDataRoot(fresh, user, message), upgradeDone) << message;
    EXPECT_EQ(fs::read_symlink(user + "/VESTRALUME").string(), "store/mine");
    EXPECT_EQ(readFile(user + "/store/mine/version.txt"), "0.2.0\n");
    EXPECT_EQ(readFile(user + "/store/mine/n/b.txt"), "7");
    EXPECT_EQ(namesBeside(user + "/store"), std::vector<std::string>{"mine"});
}

bool neverSwaps(const std::string&, const std::string&) { return false; }
bool platformSwap(const std::string& a, const std::string& b) {
    return exchangeFolders(a, b) == foldersExchanged;
}

// However the root is switched (the platform's exchange, an exchange that
// fails, none), and after a kill between the fallback's two renames, the
// user's favourites and state are in the upgraded root, and nothing is left
// beside it.
TEST_F(SmallUpgrade, EverySwitchAndTheLostRootKeepTheFavourites) {
    struct Case {
        const char* name;
        SwapFolders swap;
        bool lostRoot;  // the old root aside, no root in place
    };
    const Case cases[] = {
        {"platform exchange", platformSwap, false},
        {"exchange fails", neverSwaps, false},
        {"no exchange", nullptr, false},
        {"root lost between renames", platformSwap, true},
    };
    for (const Case& c : cases) {
        const std::string user = makeUser(true);
        const std::string favourite = readFile(user + "/VESTRALUME/2/1.txt");
        if (c.lostRoot) fs::rename(user + "/VESTRALUME", user + "/.VESTRALUME.retired");
        std::string message;
        EXPECT_EQ(upgradeDataRoot(fresh, user, message, c.swap), upgradeDone) << c.name << ": " << message;
        EXPECT_EQ(readFile(user + "/VESTRALUME/version.txt"), "0.2.0\n") << c.name;
        EXPECT_EQ(readFile(user + "/VESTRALUME/2/1.txt"), favourite) << c.name;
        EXPECT_EQ(readFile(user + "/VESTRALUME/n/d.txt"), "1") << c.name;
        EXPECT_EQ(namesBeside(user), std::vector<std::string>{"VESTRALUME"}) << c.name;
    }
}

// An old root aside beside a root that is not its upgrade (a first run made
// a fresh root in the meantime) is never deleted: it stays, and the message
// says where.
TEST_F(SmallUpgrade, AnOldRootAsideIsKeptUnlessTheRootIsItsUpgrade) {
    const std::string user = makeUser(true);
    fs::rename(user + "/VESTRALUME", user + "/.VESTRALUME.retired");
    fs::copy(fresh, user + "/VESTRALUME", fs::copy_options::recursive);
    std::string message;
    EXPECT_EQ(upgradeDataRoot(fresh, user, message, platformSwap), upgradeNotNeeded);
    EXPECT_NE(message.find(".VESTRALUME.retired"), std::string::npos) << message;
    EXPECT_EQ(readFile(user + "/.VESTRALUME.retired/n/b.txt"), "7");
    EXPECT_EQ(readFile(user + "/.VESTRALUME.retired/1/count.txt"), "20");

    // Once the root is the upgrade of the one aside, the one aside goes.
    fs::remove_all(user + "/VESTRALUME");
    fs::copy(user + "/.VESTRALUME.retired", user + "/VESTRALUME", fs::copy_options::recursive);
    writeFile(user + "/VESTRALUME/version.txt", "0.2.0\n");
    message.clear();
    EXPECT_EQ(upgradeDataRoot(fresh, user, message, platformSwap), upgradeNotNeeded);
    EXPECT_EQ(message, "");
    EXPECT_EQ(namesBeside(user), std::vector<std::string>{"VESTRALUME"});
}

TEST(RootUpgradeTool, WrongArgumentsPrintTheUsageOnStandardErrorAndFail) {
    const std::string tool = std::string(QUILLON_BINARY_DIR) + "/tools/quillon-upgrade-root";
    struct Case {
        const char* arguments;
        int status;
        bool usageOnError;
    };
    const Case cases[] = {
        {"", 2, true},
        {" /nonexistent", 2, true},
        {" a b c", 2, true},
        {" --help", 0, false},
    };
    for (const Case& c : cases) {
        const std::string command = tool + c.arguments + " 2>&1 1>/dev/null | grep -q Usage:; echo $?";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[16] = "";
        const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        EXPECT_TRUE(got);
        EXPECT_EQ(std::string(line) == "0\n", c.usageOnError) << c.arguments;
        const int status = std::system((tool + c.arguments + " >/dev/null 2>&1").c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.arguments;
    }
}

}  // namespace
