// The one way files are read and replaced: what each kind of file reads as,
// where each shape of path may lead, and the temporary files a killed
// replacement leaves behind.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "dataroot/safe_file.h"
#include "platform/platform.h"
#include "platform/temporary_files.h"
#include "state/state_files.h"
#include "tests/support/scratch.h"

namespace fs = std::filesystem;

namespace {

FileOutcome outcomeOf(const std::string& path, std::size_t limit = stateFileLimit) {
    std::string bytes;
    const FileOutcome outcome = readLimitedFile(path, limit, bytes);
    if (outcome != fileRead) {
        EXPECT_TRUE(bytes.empty()) << path;
    }
    return outcome;
}

TEST(SafeFile, OnlyRegularFilesWithinTheirCapAreRead) {
    ScratchRoot root;
    const std::string outside = root.folder() + "-outside.txt";
    writeFile(outside, "7");
    writeFile("VESTRALUME/n/b.txt", "7");
    writeFile("VESTRALUME/n/full.txt", std::string(stateFileLimit, 'x'));
    writeFile("VESTRALUME/n/over.txt", std::string(stateFileLimit + 1, 'x'));
    ASSERT_EQ(mkfifo("VESTRALUME/n/fifo.txt", 0644), 0);
    fs::create_symlink("/dev/zero", "VESTRALUME/n/zero.txt");
    fs::create_symlink(outside, "VESTRALUME/n/away.txt");
    fs::create_symlink("b.txt", "VESTRALUME/n/near.txt");
    fs::create_symlink("../n", "VESTRALUME/1/state");
    fs::create_symlink("../../..", "VESTRALUME/1/up");
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "VESTRALUME/n/socket.txt");
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    writeFile("plain.txt", "7");
    fs::create_symlink("plain.txt", "linked.txt");
    ASSERT_EQ(mkfifo("fifo.txt", 0644), 0);

    struct Case {
        std::string path;
        FileOutcome expected;
    };
    const Case cases[] = {
        {"VESTRALUME/n/b.txt", fileRead},
        {"./VESTRALUME/n/b.txt", fileRead},
        {"VESTRALUME/n/./b.txt", fileRead},
        {"VESTRALUME/n/full.txt", fileRead},
        {"VESTRALUME/n/over.txt", fileTooLarge},
        {"VESTRALUME/n/none.txt", fileMissing},
        {"VESTRALUME/none/b.txt", fileMissing},
        {"VESTRALUME/n/fifo.txt", fileNotRegular},
        {"VESTRALUME/n/socket.txt", fileNotRegular},
        {"VESTRALUME/n", fileNotRegular},
        {"VESTRALUME/n/", fileNotRegular},
        {"VESTRALUME/n/zero.txt", fileOutside},
        {"VESTRALUME/n/away.txt", fileOutside},
        {"VESTRALUME/n/../n/b.txt", fileOutside},
        {"VESTRALUME/1/up/" + fs::path(outside).filename().string(), fileOutside},
        {"plain.txt", fileRead},
        {"linked.txt", fileOutside},
        {"fifo.txt", fileNotRegular},
        {"none.txt", fileMissing},
        {outside, fileRead},  // other paths are opened as given
        {"/dev/zero", fileNotRegular},
    };
    for (const Case& c : cases) {
        // Each read ends at once: a hang fails the test instead of holding it.
        const int status = runWithin(60, [&] { return static_cast<int>(outcomeOf(c.path)); });
        EXPECT_EQ(status, static_cast<int>(c.expected)) << c.path;
    }
    // A link that stays inside the root is followed where the kernel can
    // tell (openat2); without it every link below the root is refused.
    const FileOutcome near = outcomeOf("VESTRALUME/n/near.txt");
    EXPECT_TRUE(near == fileRead || near == fileOutside);
    const FileOutcome viaFolder = outcomeOf("VESTRALUME/1/state/b.txt");
    EXPECT_EQ(viaFolder, near);

    std::string bytes;
    EXPECT_EQ(readLimitedFile("VESTRALUME/n/b.txt", stateFileLimit, bytes), fileRead);
    EXPECT_EQ(bytes, "7");
    EXPECT_EQ(readLimitedFile("VESTRALUME/n/over.txt", stateFileLimit + 1, bytes), fileRead);
    EXPECT_EQ(bytes.size(), stateFileLimit + 1);
    EXPECT_EQ(readFileBeneath(root.folder() + "/VESTRALUME", "n/b.txt", 16, bytes), fileRead);
    EXPECT_EQ(readFileBeneath(root.folder() + "/VESTRALUME", "n/away.txt", 16, bytes), fileOutside);
    EXPECT_EQ(readFileBeneath(root.folder() + "/VESTRALUME", "/etc/hostname", 16, bytes), fileOutside);
    EXPECT_EQ(readFileBeneath(root.folder() + "/VESTRALUME", "../VESTRALUME/n/b.txt", 16, bytes),
              fileOutside);
    close(server);
    fs::remove(outside);
}

// Renames anywhere on the system (every state-file write is one) make the
// kernel unsure whether a ".." inside a link stayed beneath the root; a read
// through such a link must still give the same answer every time.
TEST(SafeFile, LinksReadTheSameWhileFilesAreRenamed) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/b.txt", "7");
    fs::create_symlink("../n", "VESTRALUME/1/state");
    fs::create_symlink("../../..", "VESTRALUME/1/up");
    writeFile("VESTRALUME/n/moved.txt", "x");
    const std::string escaping = "VESTRALUME/1/up/" + fs::path(root.folder()).filename().string() +
                                 "/VESTRALUME/n/b.txt";
    const FileOutcome through = outcomeOf("VESTRALUME/1/state/b.txt");
    const FileOutcome out = outcomeOf(escaping);
    ASSERT_EQ(out, fileOutside);

    std::atomic<bool> renaming{true};
    std::thread renamer([&] {
        while (renaming) {
            std::rename("VESTRALUME/n/moved.txt", "VESTRALUME/n/moved2.txt");
            std::rename("VESTRALUME/n/moved2.txt", "VESTRALUME/n/moved.txt");
        }
    });
    int differentThrough = 0, differentOut = 0;
    for (int i = 0; i < 3000; ++i) {
        differentThrough += outcomeOf("VESTRALUME/1/state/b.txt") != through;
        differentOut += outcomeOf(escaping) != out;
    }
    renaming = false;
    renamer.join();
    EXPECT_EQ(differentThrough, 0);
    EXPECT_EQ(differentOut, 0);
}

TEST(SafeFile, DataRootPathsByTheirText) {
    struct Case {
        const char* path;
        bool inside;
        const char* below;
    };
    const Case cases[] = {
        {"VESTRALUME/1/5.Quillon", true, "1/5.Quillon"},
        {"./VESTRALUME/1/5.Quillon", true, "1/5.Quillon"},
        {"VESTRALUME/a b!/c.txt", true, "a b!/c.txt"},
        {"VESTRALUME/links.tsv", true, "links.tsv"},
        {"VESTRALUME/", false, ""},
        {"VESTRALUME", false, ""},
        {"VESTRALUME/..", false, ""},
        {"VESTRALUME/2/../1/3.Quillon", false, ""},
        {"VESTRALUME/../VESTRALUME/1/3.Quillon", false, ""},
        {"/VESTRALUME/1/3.Quillon", false, ""},
        {"/etc/hostname", false, ""},
        {"VESTRALUMEX/1/3.Quillon", false, ""},
        {"vestralume/1/3.Quillon", false, ""},
        {"5.jpg", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isDataRootPath(c.path), c.inside) << c.path;
        EXPECT_EQ(belowDataRoot(c.path), c.below) << c.path;
    }
    for (const char* name : {"5.jpg", "n.txt", ".hidden"}) EXPECT_TRUE(isWorkingDirectoryName(name));
    for (const char* name : {"", ".", "..", "a/b", "/x"}) EXPECT_FALSE(isWorkingDirectoryName(name));
    EXPECT_EQ(describeFileOutcome(fileTooLarge, imageFileLimit), "is larger than 16 MiB");
    EXPECT_EQ(describeFileOutcome(fileTooLarge, stateFileLimit), "is larger than 16 KiB");
}

// Replacing a file never writes through a link: not through a folder on the
// way out of the root, not through a temporary file of the same name
// planted beforehand; a link as the target itself is replaced, not followed.
TEST(SafeFile, ReplacementsNeverWriteThroughALink) {
    ScratchRoot root;
    const std::string outside = root.folder() + "-outside";
    fs::create_directories(outside);
    writeFile(outside + "/d.txt", "outside");
    fs::create_symlink(outside, "VESTRALUME/2/x");
    fs::create_symlink(outside + "/d.txt", "VESTRALUME/n/d.txt");
    const std::string planted = "VESTRALUME/n/.h.txt." + std::to_string(getpid()) + ".tmp";
    fs::create_symlink(outside + "/d.txt", planted);

    EXPECT_FALSE(replaceFileContents("VESTRALUME/2/x/d.txt", "inside"));
    EXPECT_FALSE(writeText("VESTRALUME/2/x/new.txt", "inside"));
    EXPECT_FALSE(copyOver("VESTRALUME/n/1.txt", "VESTRALUME/2/x/d.txt"));
    EXPECT_TRUE(writeText("VESTRALUME/n/h.txt", "5"));
    EXPECT_EQ(readFile("VESTRALUME/n/h.txt"), "5");
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted)));
    EXPECT_TRUE(writeText("VESTRALUME/n/d.txt", "3"));
    EXPECT_FALSE(fs::is_symlink("VESTRALUME/n/d.txt"));
    EXPECT_EQ(readFile("VESTRALUME/n/d.txt"), "3");
    // Paths that are neither the root's nor plain names are not copied.
    EXPECT_FALSE(copyOver(outside + "/d.txt", "VESTRALUME/n/b.txt"));
    EXPECT_FALSE(copyOver("VESTRALUME/n/1.txt", outside + "/e.txt"));
    EXPECT_EQ(readFile(outside + "/d.txt"), "outside");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    fs::remove_all(outside);
}

// Temporary files of ended processes go; those of running ones, other
// files, and names the caller does not claim stay.
TEST(SafeFile, StaleTemporaryFilesOfEndedProcessesAreRemoved) {
    ScratchRoot root;
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended), alive = std::to_string(getppid());
    const std::string self = std::to_string(getpid());
    const std::string names[] = {
        ".d.txt." + dead + ".tmp",  ".5.Quillon." + dead + ".tmp", ".d.txt." + self + ".tmp",
        ".d.txt." + alive + ".tmp", ".other." + dead + ".tmp",      "d.txt." + dead + ".tmp",
        ".d.txt.x" + dead + ".tmp", ".d.txt." + dead + ".tmpx",     ".d.txt.tmp",
    };
    for (const std::string& name : names) writeFile("VESTRALUME/n/" + name, "left");
    fs::create_directory("VESTRALUME/n/.folder." + dead + ".tmp");
    const int removed = removeStaleTemporaryFiles("VESTRALUME/n", [](const std::string& name) {
        return name != "other";
    });
    EXPECT_EQ(removed, 3);
    for (const std::string& name : names) {
        const bool gone = name == names[0] || name == names[1] || name == names[2];
        EXPECT_EQ(fileExists("VESTRALUME/n/" + name), !gone) << name;
    }
    EXPECT_TRUE(fs::is_directory("VESTRALUME/n/.folder." + dead + ".tmp"));
    EXPECT_EQ(temporaryNameFor("d.txt"), ".d.txt." + self + ".tmp");
}

}  // namespace
