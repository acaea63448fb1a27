// Media channels: which program a media address reaches (stand-in players
// and a stand-in desktop handler are the only programs on PATH), the
// arguments it gets, the channel's name taken from its link file, and
// switching channels like a TV, which ends the player started before and
// no other process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "launch/launch.h"
#include "platform/process.h"
#include "scene/wall.h"
#include "state/state_files.h"
#include "tests/support/address_recorder.h"
#include "tests/support/scratch.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Addresses = std::vector<std::string>;
using Arguments = std::vector<std::string>;

// A process as /proc shows it.
struct Process {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = '?';
    Arguments arguments;
};

std::optional<Process> readProcess(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    std::ifstream statFile(folder + "/stat");
    std::string stat;
    if (!std::getline(statFile, stat)) return std::nullopt;
    // "<pid> (<name>) <state> <parent> ...", the name may hold anything.
    const std::string::size_type nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 4 >= stat.size()) return std::nullopt;
    Process process;
    process.pid = pid;
    process.state = stat[nameEnd + 2];
    process.parent = static_cast<pid_t>(std::atoi(stat.c_str() + nameEnd + 4));
    std::ifstream commandLine(folder + "/cmdline", std::ios::binary);
    std::string argument;
    while (std::getline(commandLine, argument, '\0')) process.arguments.push_back(argument);
    return process;
}

// Every process whose parent is this test program.
std::vector<Process> childProcesses() {
    std::vector<Process> children;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::optional<Process> process = readProcess(std::atoi(name.c_str()));
        if (process && process->parent == getpid()) children.push_back(*process);
    }
    return children;
}

bool alive(pid_t pid) {
    std::optional<Process> process = readProcess(pid);
    return process && process->state != 'Z';
}

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

pid_t spawn(const Arguments& arguments) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> vector;
    for (std::string& argument : copies) vector.push_back(argument.data());
    vector.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, vector[0], nullptr, nullptr, vector.data(), environ) != 0) return -1;
    return pid;
}

void writeExecutable(const std::string& path, const std::string& text) {
    writeFile(path, text);
    fs::permissions(path, fs::perms::owner_all);
}

const char* const allPlayers[] = {"mpv", "vlc", "celluloid", "totem"};

// A stand-in player stays until it is ended (two minutes at most, should a
// test fail to end it).
const char* const standInPlayer =
    "#!/bin/sh\ni=0\nwhile [ $i -lt 120 ]; do /bin/sleep 1; i=$((i+1)); done\n";

const std::string webPage = "https://video.example/c/thirteen/videos";
const std::string streamOne = "https://streams.example/live/one.m3u8";
const std::string streamTwo = "https://streams.example/live/two.m3u8?token=a&b=-c";
const std::string plainStream = "http://streams.example/plain.m3u8";
const std::string camera = "rtsp://camera.example:554/live";
const std::string multicast = "udp://@239.0.0.1:1234";
const std::string nameOne = "Caf\xc3\xa9 \xc3\x98rsted 24";

// Tiles 1 to 7 of list 1 show channels 9 to 15: a web page, five media
// addresses and one media address whose link file has no name.
class MediaChannel : public testing::Test {
protected:
    void SetUp() override {
        writeFile("VESTRALUME/links.tsv", "13\t" + webPage + "\n" +
                                              "1291\t" + streamOne + "\tmedia\n" +
                                              "1292\t" + streamTwo + "\tmedia\n" +
                                              "1293\t" + plainStream + "\tmedia\n" +
                                              "1294\t" + camera + "\tmedia\n" +
                                              "1295\t" + multicast + "\tmedia\n");
        loadUrlDirectory();
        std::vector<int> page;
        for (int channel = 9; channel < 25; ++channel) page.push_back(channel);
        writeFile("VESTRALUME/n/z1.txt", formatIntList(page));
        writeFile("VESTRALUME/1/9.txt", "13\n");
        writeFile("VESTRALUME/1/10.txt", "1291\n" + nameOne + "\n");
        writeFile("VESTRALUME/1/11.txt", "1292\nSecond\tChannel\r\n");
        writeFile("VESTRALUME/1/12.txt", "1293\nPlain\n");
        writeFile("VESTRALUME/1/13.txt", "1294\nCamera\n");
        writeFile("VESTRALUME/1/14.txt", "1295\nMulticast\n");
        writeFile("VESTRALUME/1/15.txt", "1291");
        currentList = 1;
        // The stand-ins are the only programs there are: the real players
        // of this machine are never found.
        setenv("PATH", desktop.folder().c_str(), 1);
    }

    void TearDown() override {
        for (const Process& process : standIns()) kill(process.pid, SIGKILL);
        EXPECT_TRUE(waitUntil([&] { return standIns().empty(); }));
        currentList = 1;
    }

    // Makes exactly `names` the players there are.
    void installPlayers(const std::vector<std::string>& names) {
        for (const char* player : allPlayers) fs::remove(desktop.folder() + "/" + player);
        for (const std::string& name : names)
            writeExecutable(desktop.folder() + "/" + name, standInPlayer);
    }

    std::string player(const std::string& name) const { return desktop.folder() + "/" + name; }

    // The stand-in players running as children of this program, whoever
    // started them; not the stand-in desktop handler, which may still be
    // running when an open returns.
    std::vector<Process> standIns() const {
        std::vector<Process> found;
        for (const Process& process : childProcesses()) {
            if (process.arguments.size() < 2 || process.arguments[0] != "/bin/sh") continue;
            for (const char* name : allPlayers)
                if (process.arguments[1] == player(name)) found.push_back(process);
        }
        return found;
    }

    // Opens the channel on `tile` and returns the players it started. A new
    // process may show in /proc a moment before its program is in place
    // (no command line yet): the players are looked for once every new
    // process has one or has ended.
    std::vector<Process> open(int tile) {
        std::set<pid_t> before;
        for (const Process& process : childProcesses()) before.insert(process.pid);
        writeFile("VESTRALUME/n/b.txt", std::to_string(tile));
        openSelectedChannel();
        EXPECT_TRUE(waitUntil([&] {
            for (const Process& process : childProcesses())
                if (!before.count(process.pid) && process.arguments.empty() && process.state != 'Z')
                    return false;
            return true;
        }));
        std::vector<Process> started;
        for (const Process& process : standIns())
            if (!before.count(process.pid)) started.push_back(process);
        return started;
    }

    ScratchRoot root;
    AddressRecorder desktop{root.folder()};
};

// The arguments the player sees after its own path.
Arguments playerArguments(const Process& process) {
    return Arguments(process.arguments.begin() + 2, process.arguments.end());
}

TEST_F(MediaChannel, TheFirstPlayerOfTheOrderPlaysWithTheAddressAfterDoubleDash) {
    const std::map<std::string, Arguments> options = {
        {"mpv", {"--fs", "--force-window=immediate", "--force-media-title=" + nameOne}},
        {"vlc", {"--fullscreen", "--no-one-instance", "--meta-title=" + nameOne,
                 "--video-title=" + nameOne}},
        {"celluloid", {"--no-existing-session", "--mpv-fs"}},
        {"totem", {"--no-existing-session"}},
    };
    struct Case {
        std::vector<std::string> installed;
        std::string expected;
    };
    const Case cases[] = {
        {{"mpv", "vlc", "celluloid", "totem"}, "mpv"},
        {{"totem", "celluloid", "vlc"}, "vlc"},
        {{"totem", "celluloid"}, "celluloid"},
        {{"totem"}, "totem"},
    };
    for (const Case& c : cases) {
        installPlayers(c.installed);
        const std::vector<Process> started = open(2);
        ASSERT_EQ(started.size(), 1u) << c.expected;
        EXPECT_EQ(started[0].arguments[1], player(c.expected));
        Arguments expected = options.at(c.expected);
        expected.push_back("--");
        expected.push_back(streamOne);
        EXPECT_EQ(playerArguments(started[0]), expected) << c.expected;
        EXPECT_EQ(desktop.drain(), Addresses{}) << c.expected;
    }
}

TEST_F(MediaChannel, TheTitleIsTheLinkFilesCleanNameOrNone) {
    installPlayers({"mpv", "vlc"});
    struct Case {
        int tile;
        Arguments expected;
    };
    const Case cases[] = {
        // A tab becomes a space, the carriage return goes.
        {3, {"--fs", "--force-window=immediate", "--force-media-title=Second Channel", "--",
             streamTwo}},
        // No name line: no title option at all.
        {7, {"--fs", "--force-window=immediate", "--", streamOne}},
    };
    for (const Case& c : cases) {
        const std::vector<Process> started = open(c.tile);
        ASSERT_EQ(started.size(), 1u) << c.tile;
        EXPECT_EQ(playerArguments(started[0]), c.expected) << c.tile;
    }
}

TEST_F(MediaChannel, AWebPageReachesOnlyTheDesktopAndLeavesThePlayerAlone) {
    installPlayers({"mpv", "vlc", "celluloid", "totem"});
    EXPECT_TRUE(open(1).empty());
    EXPECT_EQ(desktop.drain(), Addresses{webPage});

    const std::vector<Process> playing = open(2);
    ASSERT_EQ(playing.size(), 1u);
    EXPECT_TRUE(open(1).empty());
    EXPECT_EQ(desktop.drain(), Addresses{webPage});
    EXPECT_TRUE(alive(playing[0].pid));
}

TEST_F(MediaChannel, WithoutAPlayerWebStreamsGoToTheDesktopAndOthersOpenNothing) {
    installPlayers({});
    // A file that is not executable and a folder do not count as players.
    writeFile(player("mpv"), standInPlayer);
    fs::permissions(player("mpv"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory(player("vlc"));

    struct Case {
        int tile;
        Addresses opened;
        std::string message;
    };
    const std::string needed = "Quillon: a media player (mpv, vlc, celluloid or totem) is needed to play ";
    const Case cases[] = {
        {2, {streamOne}, ""},
        {4, {plainStream}, ""},
        {5, {}, needed + camera + "\n"},
        {6, {}, needed + multicast + "\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const std::vector<Process> started = open(c.tile);
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(started.empty()) << c.tile;
        EXPECT_EQ(desktop.drain(), c.opened) << c.tile;
        EXPECT_EQ(message, c.message) << c.tile;
    }
}

TEST_F(MediaChannel, ASecondChannelEndsTheFirstPlayerAndNoOtherProcess) {
    installPlayers({"mpv"});
    const std::vector<Process> first = open(2);
    ASSERT_EQ(first.size(), 1u);
    // A process that looks just like the first player, started by someone
    // else: same program, same arguments.
    const pid_t lookalike = spawn(first[0].arguments);
    ASSERT_GT(lookalike, 0);

    const std::vector<Process> second = open(3);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(playerArguments(second[0]).back(), streamTwo);
    EXPECT_TRUE(waitUntil([&] { return !alive(first[0].pid); })) << "the first player still runs";
    EXPECT_TRUE(alive(lookalike)) << "a process Quillon did not start was ended";
    EXPECT_TRUE(alive(second[0].pid));

    // The same channel again restarts it; its player is the one that ends.
    const std::vector<Process> third = open(3);
    ASSERT_EQ(third.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return !alive(second[0].pid); }));
    EXPECT_TRUE(alive(third[0].pid));
    EXPECT_TRUE(alive(lookalike));

    // Ended players are gone, not left as zombies.
    for (const Process& child : childProcesses())
        EXPECT_NE(child.state, 'Z') << "zombie " << child.pid;
}

// A player that ignores SIGTERM, and a flood of channel switches: each
// switch ends the previous player within a second and its kill, through the
// process descriptor, so there is never more than one player, and the last
// one is the only one left. The stand-in's shell ignores SIGTERM, and so do
// the sleeps it starts.
TEST_F(MediaChannel, APlayerIgnoringTheRequestToEndIsKilledAndNeverPilesUp) {
    installPlayers({"mpv"});
    writeExecutable(player("mpv"),
                    "#!/bin/sh\ntrap '' TERM\ni=0\nwhile [ $i -lt 120 ]; do /bin/sleep 1; i=$((i+1)); done\n");
    std::vector<pid_t> started;
    for (int press = 0; press < 10; ++press) {
        const auto before = std::chrono::steady_clock::now();
        const std::vector<Process> now = open(press % 2 == 0 ? 2 : 3);
        const auto waited = std::chrono::steady_clock::now() - before;
        ASSERT_EQ(now.size(), 1u) << "press " << press;
        started.push_back(now[0].pid);
        EXPECT_EQ(standIns().size(), 1u) << "press " << press << ": players at once";
        // The wall waits for the request, then for the kill; the rest of
        // open() is this test's own look at the new process.
        EXPECT_LT(waited, std::chrono::milliseconds(1000 + killWaitMilliseconds + 1500)) << "press " << press;
    }
    for (size_t i = 0; i + 1 < started.size(); ++i) EXPECT_FALSE(alive(started[i])) << "player " << i;
    EXPECT_TRUE(alive(started.back()));
}

// Starts a process with the id `wanted` once that id is free (root only):
// the kernel hands out the id after the last one given.
pid_t spawnWithId(pid_t wanted, const Arguments& arguments) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        {
            std::ofstream last("/proc/sys/kernel/ns_last_pid");
            last << wanted - 1;
            last.flush();
            if (!last) return -1;
        }
        const pid_t pid = spawn(arguments);
        if (pid == wanted || pid < 0) return pid;
        // The id is still taken (the ended player's session lasts as long
        // as the stand-in's last sleep), or another process took it first.
        kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

TEST_F(MediaChannel, APlayerThatEndedIsNotConfusedWithAProcessThatTookItsId) {
    if (geteuid() != 0 || access("/proc/sys/kernel/ns_last_pid", W_OK) != 0)
        GTEST_SKIP() << "choosing a process id needs root";
    installPlayers({"mpv"});
    const std::vector<Process> first = open(2);
    ASSERT_EQ(first.size(), 1u);
    const pid_t id = first[0].pid;
    // The player ends by itself (the user closed it) and is reaped; a new
    // process gets its id. Its whole process group ends with it, so that no
    // child of the stand-in keeps the id in use as a group or session id.
    kill(-id, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !readProcess(id); }));
    const pid_t newcomer = spawnWithId(id, first[0].arguments);
    if (newcomer != id) GTEST_SKIP() << "the process id could not be handed on";

    const std::vector<Process> second = open(3);
    ASSERT_EQ(second.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(alive(newcomer)) << "the process that took the player's id was ended";
    EXPECT_TRUE(alive(second[0].pid));
}

TEST(ProgramLookup, OnlyExecutableFilesInAbsoluteFoldersCount) {
    ScratchRoot root;
    const std::string previous = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string a = root.folder() + "/a", b = root.folder() + "/b";
    fs::create_directories(a);
    fs::create_directories(b);
    fs::create_directories("relative");
    writeExecutable("relative/tool", standInPlayer);
    writeExecutable("tool", standInPlayer);  // in the working directory
    writeFile(a + "/tool", standInPlayer);   // not executable
    fs::create_directory(a + "/other");      // a folder
    writeExecutable(b + "/other", standInPlayer);
    writeExecutable(b + "/tool", standInPlayer);
    fs::create_symlink(b + "/tool", a + "/linked");

    struct Case {
        std::string path;
        std::string name;
        std::optional<std::string> found;
    };
    const Case cases[] = {
        {a + ":" + b, "tool", b + "/tool"},
        {a + ":" + b, "other", b + "/other"},
        {a + "/:" + b, "linked", a + "/linked"},
        {"relative:" + a, "tool", std::nullopt},
        {":" + a, "tool", std::nullopt},
        {"." + std::string(":") + a, "tool", std::nullopt},
        {a + "::" + b, "tool", b + "/tool"},
        {a + ":" + b, "../b/tool", std::nullopt},
        {a + ":" + b, "", std::nullopt},
        {a + ":" + b, "missing", std::nullopt},
    };
    for (const Case& c : cases) {
        setenv("PATH", c.path.c_str(), 1);
        EXPECT_EQ(findProgramOnPath(c.name), c.found) << c.path << " " << c.name;
    }
    unsetenv("PATH");
    EXPECT_EQ(findProgramOnPath("tool"), std::nullopt);
    setenv("PATH", previous.c_str(), 1);
}

TEST(ChannelName, IsTheSecondLineAsCleanBoundedText) {
    const std::string tv = "\xf0\x9f\x93\xba";  // a four-byte character
    const std::pair<std::string, std::string> cases[] = {
        {"1291\nChannel One\n", "Channel One"},
        {"1291\r\nChannel One\r\n", "Channel One"},
        {"1291\nCaf\xc3\xa9 " + tv + "\nsomething else\n", "Caf\xc3\xa9 " + tv},
        {"1291\nNo line end", "No line end"},
        {"1291", ""},
        {"1291\n", ""},
        {"1291\n\nThird line\n", ""},
        {"1291\n \t  \n", ""},
        {"1291\n\tNews\t24 \n", "News 24"},
        {"1291\nA\x01" "B\x1b[31mC\x7f\n", "AB[31mC"},
        {"1291\nA\xc2\x85" "B\xc2\x9b" "C\n", "ABC"},
        {"1291\nabc\xe2\x80\xae" "def\xe2\x80\xa8" "g\xe2\x81\xa6h\n", "abcdefgh"},
        {"1291\nA\xff" "B\xc0\xaf" "C\xed\xa0\x80" "D\xf4\x90\x80\x80" "E\xe2\x82\n", "ABCDE"},
        {std::string("1291\nA\0B\n", 9), "AB"},
        {"1291\n--fs --script=/tmp/x.lua\n", "--fs --script=/tmp/x.lua"},
    };
    for (const auto& [text, name] : cases) EXPECT_EQ(channelName(text), name) << text;

    // Long names are cut between characters.
    std::string accents;
    for (int i = 0; i < 300; ++i) accents += "\xc3\xa9";
    EXPECT_EQ(channelName("1\n" + accents + "\n"), accents.substr(0, maxChannelNameLength));
    const std::string letters(maxChannelNameLength - 1, 'a');
    EXPECT_EQ(channelName("1\n" + letters + "\xc3\xa9" + "b\n"), letters);
    EXPECT_EQ(channelName("1\n" + letters + "bc\n"), letters + "b");
}

}  // namespace
