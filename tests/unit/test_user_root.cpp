// Making the user's own data root from the installed template on the first
// start (what the Windows launcher does on every start).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/user_root.h"
#include "tests/support/scratch.h"

namespace fs = std::filesystem;

namespace {

// Every file under `folder` with its bytes, by path relative to it; folders
// as entries with the bytes "<folder>".
std::map<std::string, std::string> treeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).string();
        tree[name] = entry.is_directory() ? "<folder>" : readFile(entry.path().string());
    }
    return tree;
}

std::vector<std::string> stagingFolders(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(".VESTRALUME.", 0) == 0) found.push_back(name);
    }
    return found;
}

class UserRoot : public ::testing::Test {
protected:
    void SetUp() override {
        base = scratch.folder();
        templateRoot = base / "installed" / "VESTRALUME";
        userFolder = base / "home" / "Quillon";
        root = userFolder / "VESTRALUME";
        for (const char* folder : {"n", "1", "2"}) fs::create_directories(templateRoot / folder);
        writeFile((templateRoot / "n" / "b.txt").string(), "1");
        writeFile((templateRoot / "n" / "z1.txt").string(), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
        writeFile((templateRoot / "1" / "5.txt").string(), "5");
        writeFile((templateRoot / "links.tsv").string(), "1\thttps://example.org/\n");
        // Installed files may be read-only; the user's copy must not be.
        fs::permissions(templateRoot / "n" / "b.txt", fs::perms::owner_read | fs::perms::group_read);
    }

    ScratchRoot scratch;
    fs::path base, templateRoot, userFolder, root;
};

TEST_F(UserRoot, FirstStartCopiesTheWholeTemplateWritableAndLeavesNoCopyBehind) {
    const auto installed = treeOf(templateRoot);
    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    EXPECT_EQ(treeOf(root), installed);
    EXPECT_EQ(treeOf(templateRoot), installed);
    EXPECT_TRUE((fs::status(root / "n" / "b.txt").permissions() & fs::perms::owner_write) !=
                fs::perms::none);
    EXPECT_TRUE(stagingFolders(userFolder).empty());

    // Later starts use the root as the user left it.
    writeFile((root / "n" / "b.txt").string(), "7");
    fs::remove(root / "1" / "5.txt");
    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    EXPECT_EQ(readFile((root / "n" / "b.txt").string()), "7");
    EXPECT_FALSE(fs::exists(root / "1" / "5.txt"));
}

TEST_F(UserRoot, SomethingElseInThePlaceOfTheRootIsReportedAndKept) {
    struct Case {
        const char* what;
        void (*make)(const fs::path& root);
    };
    const Case cases[] = {
        {"a file", [](const fs::path& r) { writeFile(r.string(), "mine"); }},
        {"a dangling link", [](const fs::path& r) { fs::create_symlink(r.parent_path() / "gone", r); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(userFolder);
        fs::create_directories(userFolder);
        c.make(root);
        std::string message = makeUserDataRoot(templateRoot, root);
        EXPECT_NE(message.find("is not a folder"), std::string::npos) << message;
        EXPECT_NE(message.find(root.string()), std::string::npos) << message;
        EXPECT_TRUE(fs::is_symlink(root) || readFile(root.string()) == "mine");
        EXPECT_TRUE(stagingFolders(userFolder).empty());
    }
    // A link to a folder is a root like any other.
    fs::remove_all(userFolder);
    fs::create_directories(base / "elsewhere" / "n");
    fs::create_directories(userFolder);
    fs::create_directory_symlink(base / "elsewhere", root);
    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    EXPECT_FALSE(fs::exists(base / "elsewhere" / "links.tsv"));
}

TEST_F(UserRoot, AMissingTemplateIsReportedAndMakesNothing) {
    fs::remove_all(templateRoot);
    std::string message = makeUserDataRoot(templateRoot, root);
    EXPECT_NE(message.find("missing"), std::string::npos) << message;
    EXPECT_NE(message.find(templateRoot.string()), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(UserRoot, ACopyThatFailsHalfwayLeavesNoRootAndNoCopy) {
    // A file that cannot be copied (a named pipe) in the middle of the template.
    ASSERT_EQ(mkfifo((templateRoot / "n" / "pipe").c_str(), 0644), 0);
    std::string message = makeUserDataRoot(templateRoot, root);
    EXPECT_NE(message.find("could not copy"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
    EXPECT_TRUE(stagingFolders(userFolder).empty());

    // The next start, with a sound template, makes the root.
    fs::remove(templateRoot / "n" / "pipe");
    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    EXPECT_EQ(readFile((root / "links.tsv").string()), "1\thttps://example.org/\n");
}

TEST_F(UserRoot, CopiesLeftByKilledStartsGoOnceTheyAreAnHourOld) {
    fs::create_directories(userFolder / ".VESTRALUME.111" / "VESTRALUME" / "n");
    fs::create_directories(userFolder / ".VESTRALUME.222");
    fs::create_directories(userFolder / ".VESTRALUMEX");
    writeFile((userFolder / ".VESTRALUME.333").string(), "a file, not a copy");
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    for (const char* name : {".VESTRALUME.111", ".VESTRALUMEX", ".VESTRALUME.333"})
        fs::last_write_time(userFolder / name, twoHoursAgo);

    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    EXPECT_FALSE(fs::exists(userFolder / ".VESTRALUME.111"));
    // Another start may still be filling a young one.
    EXPECT_TRUE(fs::exists(userFolder / ".VESTRALUME.222"));
    EXPECT_TRUE(fs::exists(userFolder / ".VESTRALUMEX"));
    EXPECT_TRUE(fs::exists(userFolder / ".VESTRALUME.333"));
}

// An upgrade killed between its renames leaves the user's old root at
// .VESTRALUME.retired (and the new one at .VESTRALUME.upgrade); however old,
// they are the upgrader's to put back or clear, never a first start's.
TEST_F(UserRoot, TheUpgradersFoldersStayWhateverTheirAge) {
    for (const char* name : {".VESTRALUME.retired", ".VESTRALUME.upgrade"}) {
        fs::create_directories(userFolder / name / "2");
        writeFile((userFolder / name / "2" / "1.txt").string(), "a favourite");
        fs::last_write_time(userFolder / name, fs::file_time_type::clock::now() - std::chrono::hours(5));
    }
    EXPECT_EQ(makeUserDataRoot(templateRoot, root), "");
    for (const char* name : {".VESTRALUME.retired", ".VESTRALUME.upgrade"})
        EXPECT_EQ(readFile((userFolder / name / "2" / "1.txt").string()), "a favourite") << name;
}

TEST_F(UserRoot, AFolderThatCannotBeWrittenIsReported) {
    fs::create_directories(userFolder);
    fs::permissions(userFolder, fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    // The template must be readable by the unprivileged child.
    fs::permissions(templateRoot / "n" / "b.txt", fs::perms::others_read, fs::perm_options::add);
    int status = runWithoutPrivileges(scratch, [&] {
        std::string message = makeUserDataRoot(templateRoot, root);
        return message.find("cannot write in " + userFolder.string()) != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(root));
    fs::permissions(userFolder, fs::perms::owner_all);
}

TEST_F(UserRoot, TwoFirstStartsAtOnceBothGetTheOneWholeRoot) {
    for (int i = 0; i < 300; ++i)
        writeFile((templateRoot / "1" / (std::to_string(i) + ".Quillon")).string(),
                  std::string(2000, static_cast<char>('a' + i % 26)));
    const auto installed = treeOf(templateRoot);
    for (int round = 0; round < 5; ++round) {
        fs::remove_all(userFolder);
        std::string first, second;
        std::thread other([&] { second = makeUserDataRoot(templateRoot, root); });
        first = makeUserDataRoot(templateRoot, root);
        other.join();
        EXPECT_EQ(first, "");
        EXPECT_EQ(second, "");
        EXPECT_EQ(treeOf(root), installed);
        EXPECT_TRUE(stagingFolders(userFolder).empty());
    }
}

}  // namespace
