// The data root's shared rules: the channel count record and the scroll
// bound it sets, the URL directory's line format with its two kinds of
// entry, and the lock that keeps two programs off one root.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "dataroot/data_root.h"
#include "dataroot/url_directory_file.h"
#include "platform/folder_lock.h"
#include "tests/support/scratch.h"

namespace {

TEST(ChannelCount, LastFirstChannelPutsTheLastChannelOnASelectableRow) {
    struct Case {
        int count;
        int lastFirst;
    };
    const Case cases[] = {
        {1, 1},     {12, 1},    {13, 5},     {16, 5},     {17, 9},
        {2004, 1993}, {2005, 1997}, {100000, 99989}, {maxChannelCount, 9999989},
    };
    for (const Case& c : cases) {
        const int last = lastFirstChannelFor(c.count);
        EXPECT_EQ(last, c.lastFirst) << c.count;
        // The last channel is on one of the page's three selectable rows.
        EXPECT_GE(c.count, last) << c.count;
        EXPECT_LT(c.count, last + selectableTiles) << c.count;
    }
}

TEST(ChannelCount, RecordIsReadOnlyWhenItIsAPlainNumberInRange) {
    ScratchRoot root;
    EXPECT_EQ(readChannelCount(), std::nullopt);  // no record: the delivered catalogue
    EXPECT_EQ(lastFirstChannel(1, readChannelCount()), deliveredLastFirstChannel);
    struct Case {
        const char* text;
        std::optional<int> count;
    };
    const Case cases[] = {
        {"25", 25},       {"25\n", 25},     {"25\r\n", 25},   {"1", 1},
        {"10000000", 10000000},             {"0", std::nullopt},
        {"10000001", std::nullopt},         {"-3", std::nullopt},
        {"", std::nullopt}, {"abc", std::nullopt}, {"25 channels", std::nullopt},
        {" 25", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        writeFile(channelCountFile, c.text);
        EXPECT_EQ(readChannelCount(), c.count) << "'" << c.text << "'";
    }
    writeFile(channelCountFile, "30\n");
    EXPECT_EQ(readChannelCount(root.folder()), 30);
    // The favourites list keeps its 2004 places whatever the catalogue holds.
    EXPECT_EQ(lastFirstChannel(2, 30), deliveredLastFirstChannel);
    EXPECT_EQ(lastFirstChannel(1, 30), 21);
    EXPECT_TRUE(channelExists(1, 30, 30));
    EXPECT_FALSE(channelExists(1, 31, 30));
    EXPECT_FALSE(channelExists(1, 0, 30));
    EXPECT_TRUE(channelExists(2, 31, 30));
    EXPECT_TRUE(channelExists(1, 2004, std::nullopt));
}

TEST(DirectoryFile, LinesOfBothKindsRoundTripAndUnsafeAddressesAreRefused) {
    struct Case {
        const char* line;
        DirectoryLine result;
        LinkKind kind;
    };
    const Case cases[] = {
        {"1\thttps://first.example/", directoryEntry, webPage},
        {"1291\thttps://stream.example/live/index.m3u8\tmedia", directoryEntry, mediaAddress},
        {"1292\thttp://plain.example/tv.m3u8\tmedia", directoryEntry, mediaAddress},
        {"1293\trtmp://live.example/app/key\tmedia", directoryEntry, mediaAddress},
        {"1294\trtsp://cam.example:554/s\tmedia", directoryEntry, mediaAddress},
        {"1295\tudp://@239.0.0.1:1234\tmedia", directoryEntry, mediaAddress},
        {"1296\trtp://@239.0.0.2:5004\tmedia", directoryEntry, mediaAddress},
        {"1297\tmms://old.example/stream\tmedia", directoryEntry, mediaAddress},
        {"1298\trtmps://live.example/app\tmedia", directoryEntry, mediaAddress},
        {"1299\thttp://plain.example/page", directoryUnsafeAddress, webPage},
        {"1300\tfile:///etc/passwd\tmedia", directoryUnsafeAddress, webPage},
        {"1301\tplugin://x/y\tmedia", directoryUnsafeAddress, webPage},
        {"1302\thttps://@host.example/\tmedia", directoryUnsafeAddress, webPage},
        {"1303\thttps:///etc/passwd\tmedia", directoryUnsafeAddress, webPage},
        {"1304\tRTSP://upper.example/\tmedia", directoryUnsafeAddress, webPage},
        {"1305\thttps://x.example/a b\tmedia", directoryUnsafeAddress, webPage},
        {"1306\thttps://x.example/\tvideo", directoryMalformed, webPage},
        {"1307\thttps://x.example/\tmedia\t", directoryMalformed, webPage},
        {"0\thttps://zero.example/", directoryMalformed, webPage},
        {"100000000\thttps://x.example/", directoryMalformed, webPage},
        {"# comment", directoryComment, webPage},
        {" \t", directoryComment, webPage},
    };
    for (const Case& c : cases) {
        DirectoryEntry entry;
        ASSERT_EQ(parseDirectoryLine(c.line, entry), c.result) << c.line;
        if (c.result != directoryEntry) continue;
        EXPECT_EQ(entry.kind, c.kind) << c.line;
        EXPECT_EQ(formatDirectoryLine(entry), c.line);
        DirectoryEntry again;
        ASSERT_EQ(parseDirectoryLine(formatDirectoryLine(entry) + "\r", again), directoryEntry);
        EXPECT_EQ(again.address, entry.address);
    }
    // The length bound holds for both kinds.
    const std::string longPath(maxAddressLength, 'a');
    EXPECT_FALSE(isSafeWebAddress("https://x.example/" + longPath));
    EXPECT_FALSE(isSafeMediaAddress("https://x.example/" + longPath));
    EXPECT_TRUE(isSafeMediaAddress("https://x.example/" + longPath.substr(0, maxAddressLength - 18)));
}

// The reason a line is refused, and what was read of it: the checker words
// its report from these, the viewer only sees DirectoryLine.
TEST(DirectoryFile, RefusedLinesSayWhyAndKeepWhatWasRead) {
    struct Case {
        const char* line;
        DirectoryLine result;
        DirectoryRefusal refusal;
        long long link;
        const char* address;
    };
    const Case cases[] = {
        {"7\thttps://seven.example/\r", directoryEntry, DirectoryRefusal::none, 7,
         "https://seven.example/"},
        {"  # indented", directoryComment, DirectoryRefusal::none, 0, ""},
        {"7 https://seven.example/", directoryMalformed, DirectoryRefusal::notEntryShape, 0, ""},
        {"\thttps://seven.example/", directoryMalformed, DirectoryRefusal::notEntryShape, 0, ""},
        {"-7\thttps://seven.example/", directoryMalformed, DirectoryRefusal::notEntryShape, 0, ""},
        {"000000007\thttps://seven.example/", directoryMalformed, DirectoryRefusal::notEntryShape,
         0, ""},
        {"1234567890\thttps://x.example/", directoryMalformed, DirectoryRefusal::notEntryShape, 0,
         ""},
        {"7\thttps://seven.example/\tvideo", directoryMalformed,
         DirectoryRefusal::unknownThirdField, 0, ""},
        {"0\thttps://zero.example/", directoryMalformed, DirectoryRefusal::linkOutOfRange, 0, ""},
        {"123456789\thttps://x.example/\tmedia", directoryMalformed,
         DirectoryRefusal::linkOutOfRange, 123456789, ""},
        {"99999999\thttps://last.example/\tmedia", directoryEntry, DirectoryRefusal::none,
         99999999, "https://last.example/"},
        {"8\tftp://eight.example/", directoryUnsafeAddress, DirectoryRefusal::unsafeAddress, 8,
         "ftp://eight.example/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const DirectoryLineReading reading = readDirectoryLine(c.line);
        EXPECT_EQ(reading.line, c.result);
        EXPECT_EQ(reading.refusal, c.refusal);
        EXPECT_EQ(reading.link, c.link);
        EXPECT_EQ(reading.address, c.address);
        DirectoryEntry entry;
        EXPECT_EQ(parseDirectoryLine(c.line, entry), c.result);
    }
}

// Whether a child process could take the lock on `folder` right now.
FolderLock lockInChild(const std::string& folder) {
    const pid_t child = fork();
    if (child == 0) {
        // Forget the parent's descriptor (closing this copy keeps the
        // parent's lock) so the child asks as a process of its own.
        unlockFolder(folder);
        _exit(static_cast<int>(lockFolder(folder)));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<FolderLock>(WEXITSTATUS(status));
}

TEST(FolderLock, OneHolderAtATimeAndNothingLeftOnDisk) {
    ScratchRoot root;
    EXPECT_EQ(lockFolder("VESTRALUME"), folderLocked);
    EXPECT_EQ(lockFolder("VESTRALUME"), folderLocked);  // held already
    EXPECT_EQ(lockInChild("VESTRALUME"), folderBusy);
    unlockFolder("VESTRALUME");
    EXPECT_EQ(lockInChild("VESTRALUME"), folderLocked);
    EXPECT_EQ(lockFolder("none"), folderUnavailable);
    writeFile("plain-file", "x");
    EXPECT_EQ(lockFolder("plain-file"), folderUnavailable);
}

}  // namespace
