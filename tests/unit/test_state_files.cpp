// State-file operations: value formats, both path scan sets, copies and the
// one-step replacement of a file's content.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <unistd.h>
#include <sys/stat.h>
#include <thread>

#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/scratch.h"

namespace {

struct IntCase {
    const char* bytes;
    std::optional<int> expected;
};

TEST(ReadInt, ReadsTheFirstIntegerAfterWhiteSpace) {
    ScratchRoot root;
    const IntCase cases[] = {
        {" 7\n", 7},        {"7", 7},           {"\t\r\n-12 99", -12}, {"+5", 5},
        {"16\r\n", 16},     {"x7", std::nullopt}, {"", std::nullopt},  {"   ", std::nullopt},
        {"12abc", 12},      {"99999999999", std::nullopt}, {"1.9", 1},
    };
    for (const IntCase& c : cases) {
        writeFile("VESTRALUME/n/b.txt", c.bytes);
        EXPECT_EQ(readInt("VESTRALUME/n/b.txt"), c.expected) << "bytes: [" << c.bytes << "]";
    }
    EXPECT_EQ(readInt("VESTRALUME/n/missing.txt"), std::nullopt);
}

TEST(ReadFloat, ReadsSinglePrecision) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/u.txt", "0.05");
    EXPECT_EQ(readFloat("VESTRALUME/n/u.txt"), 0.05f);
    writeFile("VESTRALUME/n/u.txt", " \n2.35\n");
    EXPECT_EQ(readFloat("VESTRALUME/n/u.txt"), 2.35f);
    writeFile("VESTRALUME/n/u.txt", "7.45058e-10");
    EXPECT_EQ(readFloat("VESTRALUME/n/u.txt"), 7.45058e-10f);
    writeFile("VESTRALUME/n/u.txt", "scale");
    EXPECT_EQ(readFloat("VESTRALUME/n/u.txt"), std::nullopt);
    EXPECT_EQ(readFloat("VESTRALUME/n/none.txt"), std::nullopt);
}

TEST(ReadIntList, TakesTheFirstNumbersOrNothing) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/z1.txt", "9\n10\r\n11 12\t13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n25");
    auto sixteen = readIntList("VESTRALUME/n/z1.txt", 16);
    ASSERT_TRUE(sixteen);
    EXPECT_EQ(sixteen->front(), 9);
    EXPECT_EQ(sixteen->back(), 24);
    auto twelve = readIntList("VESTRALUME/n/z1.txt", 12);
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->size(), 12u);
    EXPECT_EQ(twelve->back(), 20);

    writeFile("VESTRALUME/n/z2.txt", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15");
    EXPECT_EQ(readIntList("VESTRALUME/n/z2.txt", 16), std::nullopt);
    EXPECT_TRUE(readIntList("VESTRALUME/n/z2.txt", 12));
    writeFile("VESTRALUME/n/z2.txt", "1 2 3 x 5 6 7 8 9 10 11 12 13 14 15 16");
    EXPECT_EQ(readIntList("VESTRALUME/n/z2.txt", 16), std::nullopt);
    EXPECT_EQ(readIntList("VESTRALUME/n/none.txt", 16), std::nullopt);
}

struct PathCase {
    std::string bytes;
    std::string narrow;
    std::string wide;
};

TEST(ReadPath, ScanSetsStopAtTheFirstForeignCharacter) {
    ScratchRoot root;
    const PathCase cases[] = {
        {"VESTRALUME/2/12.Quillon", "VESTRALUME/2/12.Quillon", "VESTRALUME/2/12.Quillon"},
        {"VESTRALUME/my_dir/1.txt", "VESTRALUME/my", "VESTRALUME/my_dir/1.txt"},
        {"VESTRALUME/1/37.Quillon\r\n", "VESTRALUME/1/37.Quillon", "VESTRALUME/1/37.Quillon"},
        {"VESTRALUME/1/37.Quillon\nmore", "VESTRALUME/1/37.Quillon", "VESTRALUME/1/37.Quillon"},
        {"a b!\"#$%&'()*+,-./:=?", "a b!\"#$%&'()*+,-./:=?", "a b!\"#$%&'()*+,-./:=?"},
        {"name\tafter tab", "name", "name"},
        {"caf\xc3\xa9", "caf", "caf"},
        {"x;y", "x", "x"},
        {"x@y", "x", "x"},
        {"_lead", "", "_lead"},
        {"\nVESTRALUME", "", ""},
        {"", "", ""},
    };
    for (const PathCase& c : cases) {
        writeFile("VESTRALUME/n/npt.txt", c.bytes);
        EXPECT_EQ(readPath("VESTRALUME/n/npt.txt", narrowScan), c.narrow) << c.bytes;
        EXPECT_EQ(readPath("VESTRALUME/n/npt.txt", wideScan), c.wide) << c.bytes;
    }
    EXPECT_EQ(readPath("VESTRALUME/n/none.txt", wideScan), "");
}

TEST(ReadPath, IsBoundedToOneKibibyte) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/n1.txt", std::string(10000, 'a'));
    EXPECT_EQ(readPath("VESTRALUME/n/n1.txt", narrowScan), std::string(maxPathLength, 'a'));
}

TEST(WriteText, WritesExactlyTheTextAndReplacesTheOldContent) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/npt.txt", "a much longer previous content\r\n");
    EXPECT_TRUE(writeText("VESTRALUME/n/npt.txt", "VESTRALUME/1/13.txt"));
    EXPECT_EQ(readFile("VESTRALUME/n/npt.txt"), "VESTRALUME/1/13.txt");
    EXPECT_TRUE(writeText("VESTRALUME/n/new.txt", "0"));
    EXPECT_EQ(readFile("VESTRALUME/n/new.txt"), "0");
    EXPECT_TRUE(writeText("VESTRALUME/n/new.txt", ""));
    EXPECT_EQ(readFile("VESTRALUME/n/new.txt"), "");
}

TEST(WriteText, FailsWithoutTouchingAnythingInAReadOnlyFolder) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/d.txt", "3");
    writeFile("VESTRALUME/n/h.txt", "5");
    chmod("VESTRALUME/n", 0555);
    chmod("VESTRALUME/n/h.txt", 0444);
    int result = runWithoutPrivileges(root, [] {
        bool wrote = writeText("VESTRALUME/n/d.txt", "4");
        bool copied = copyOver("VESTRALUME/n/1.txt", "VESTRALUME/n/d.txt");
        return wrote || copied ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile("VESTRALUME/n/d.txt"), "3");
    chmod("VESTRALUME/n", 0755);
    // A file that may not be written stays as it is, even in a writable folder.
    result = runWithoutPrivileges(root, [] { return writeText("VESTRALUME/n/h.txt", "6") ? 1 : 0; });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile("VESTRALUME/n/h.txt"), "5");
}

TEST(WriteText, AReaderNeverSeesAPartialFile) {
    ScratchRoot root;
    const std::string first(3000, 'a');
    const std::string second(5000, 'b');
    writeText("VESTRALUME/n/u.txt", first);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            std::string seen = readFile("VESTRALUME/n/u.txt");
            if (seen != first && seen != second) ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 3000; ++i) writeText("VESTRALUME/n/u.txt", i % 2 ? first : second);
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
}

TEST(CopyOver, ReplacesTheTargetOrLeavesItIntact) {
    ScratchRoot root;
    writeFile("source.bin", std::string("\x00\x01jpeg\xff", 7));
    writeFile("target.bin", "old");
    EXPECT_TRUE(copyOver("source.bin", "target.bin"));
    EXPECT_EQ(readFile("target.bin"), std::string("\x00\x01jpeg\xff", 7));

    writeFile("target.bin", "old");
    EXPECT_FALSE(copyOver("missing.bin", "target.bin"));
    EXPECT_EQ(readFile("target.bin"), "old");
    EXPECT_FALSE(copyOver("VESTRALUME", "target.bin"));  // a folder is no source
    EXPECT_EQ(readFile("target.bin"), "old");

    EXPECT_FALSE(copyOver("source.bin", "no/such/folder/target.bin"));
    EXPECT_TRUE(copyOver("source.bin", "fresh.bin"));
    EXPECT_EQ(readFile("fresh.bin"), readFile("source.bin"));

    // No temporary file stays behind, whatever happened.
    for (const auto& entry : std::filesystem::directory_iterator("."))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << entry.path();
}

TEST(SetFromTemplate, CopiesTheTemplateByteForByte) {
    ScratchRoot root;
    writeFile("VESTRALUME/n/b.txt", "12\nleftover");
    EXPECT_TRUE(setFromTemplate(7, "VESTRALUME/n/b.txt"));
    EXPECT_EQ(readFile("VESTRALUME/n/b.txt"), readFile("VESTRALUME/n/7.txt"));
    EXPECT_EQ(readInt("VESTRALUME/n/b.txt"), 7);
    writeFile("VESTRALUME/n/b.txt", "3");
    EXPECT_FALSE(setFromTemplate(21, "VESTRALUME/n/b.txt"));  // no template 21
    EXPECT_EQ(readFile("VESTRALUME/n/b.txt"), "3");
}

TEST(Formats, PageFilesAndFloats) {
    EXPECT_EQ(formatIntList({5, 6, 7}), "5\n6\n7");
    EXPECT_EQ(formatFloat(2.0f - 0.05), "1.95");
    EXPECT_EQ(formatFloat(2.0f + 0.05), "2.05");
    EXPECT_EQ(formatFloat(0.05f - 0.05), "7.45058e-10");
    EXPECT_EQ(formatFloat(1e7), "1e+07");
}

TEST(Catalogue, PathsOfChannelsAndTiles) {
    EXPECT_EQ(thumbnailPath(1, 2004), "VESTRALUME/1/2004.Quillon");
    EXPECT_EQ(linkPath(1, 2004), "VESTRALUME/1/2004.txt");
    EXPECT_EQ(thumbnailPath(2, -4), "VESTRALUME/2/-4.Quillon");
    EXPECT_EQ(tilePathFile(1, 16), "VESTRALUME/n/n16.txt");
    EXPECT_EQ(tilePathFile(2, 16), "VESTRALUME/n/n16b.txt");
    EXPECT_EQ(pageFile(2), "VESTRALUME/n/z2.txt");
    EXPECT_EQ(placeholderPath(17), "VESTRALUME/i/17.jpg");
}

}  // namespace
