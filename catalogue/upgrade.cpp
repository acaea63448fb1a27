#include "catalogue/upgrade.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "catalogue/data_root.h"
#include "catalogue/root_files.h"
#include "catalogue/url_directory_file.h"

namespace fs = std::filesystem;

namespace {

// The upgrade's work folders beside the root: the new root is prepared in
// the first; the second holds the old root only when the system cannot
// exchange two folders in one step.
const char* const stagingName = ".VESTRALUME.upgrade";
const char* const retiredName = ".VESTRALUME.retired";

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeWhole(const fs::path& path, const std::string& text) {
    std::error_code code;
    fs::remove(path, code);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// A copy of the user's root in which every file is a hard link to the
// user's file (or a copy where linking fails). The running program replaces
// files by renaming new ones over them, never by writing into them, so the
// shared files are safe; the upgrade below does the same.
bool mirrorRoot(const fs::path& from, const fs::path& to, std::string& message) {
    std::error_code code;
    fs::create_directories(to, code);
    if (code) {
        message = "cannot create " + to.string() + ": " + code.message();
        return false;
    }
    for (auto entry = fs::recursive_directory_iterator(from, code);
         !code && entry != fs::recursive_directory_iterator(); entry.increment(code)) {
        const fs::path target = to / fs::relative(entry->path(), from);
        const fs::file_status status = entry->symlink_status(code);
        if (code) break;
        if (fs::is_symlink(status)) {
            fs::copy_symlink(entry->path(), target, code);
        } else if (fs::is_directory(status)) {
            fs::create_directories(target, code);
        } else if (fs::is_regular_file(status)) {
            fs::create_hard_link(entry->path(), target, code);
            if (code) fs::copy_file(entry->path(), target, code);
        }
        if (code) {
            message = "cannot copy " + entry->path().string() + ": " + code.message();
            return false;
        }
    }
    if (code) message = "cannot read " + from.string() + ": " + code.message();
    return !code;
}

// Whether two files hold the same bytes; most delivered files do not change
// from one version to the next, and reading is cheaper than writing.
bool sameContent(const fs::path& a, const fs::path& b) {
    std::error_code code;
    if (!fs::is_regular_file(fs::symlink_status(b, code)) || fs::file_size(a, code) != fs::file_size(b, code) ||
        code)
        return false;
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    char leftBlock[16384], rightBlock[16384];
    while (left && right) {
        left.read(leftBlock, sizeof leftBlock);
        right.read(rightBlock, sizeof rightBlock);
        if (left.gcount() != right.gcount() ||
            !std::equal(leftBlock, leftBlock + left.gcount(), rightBlock))
            return false;
    }
    return !left.bad() && !right.bad() && left.eof() && right.eof();
}

// Puts the template's file in place of the staged one: the staged name is
// unlinked first, so the user's file it may share stays untouched.
bool replaceWithTemplateFile(const fs::path& source, const fs::path& target, std::string& message) {
    if (sameContent(source, target)) return true;
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    if (!code) fs::remove(target, code);
    if (!code) fs::copy_file(source, target, code);
    if (code) message = "cannot write " + target.string() + ": " + code.message();
    return !code;
}

bool bringDeliveredFiles(const fs::path& templateRoot, const fs::path& staged, std::string& message) {
    std::error_code code;
    const bool imported = fs::exists(staged / "1" / "count.txt", code);
    for (auto entry = fs::recursive_directory_iterator(templateRoot, code);
         !code && entry != fs::recursive_directory_iterator(); entry.increment(code)) {
        if (!entry->is_regular_file(code)) continue;
        const std::string relative = fs::relative(entry->path(), templateRoot).generic_string();
        const fs::path target = staged / relative;
        const bool present = fs::exists(fs::symlink_status(target, code));
        bool replace;
        if (relative == rootVersionFile || relative == "links.tsv")
            replace = false;  // written at the end
        else if (relative.compare(0, 2, "2/") == 0 || isStateFile(relative))
            replace = !present;  // the favourites and the state are the user's
        else if (relative.compare(0, 2, "1/") == 0)
            replace = !imported;  // an imported catalogue is the user's
        else
            replace = true;
        if (replace && !replaceWithTemplateFile(entry->path(), target, message)) return false;
    }
    if (code) {
        message = "cannot read the template " + templateRoot.string() + ": " + code.message();
        return false;
    }
    // A catalogue the user never replaced is the template's exactly: channels
    // the new template no longer delivers go with it.
    if (!imported) {
        for (auto entry = fs::directory_iterator(staged / "1", code);
             !code && entry != fs::directory_iterator(); entry.increment(code)) {
            if (!fs::exists(templateRoot / "1" / entry->path().filename())) fs::remove_all(entry->path(), code);
        }
    }
    const std::string links = mergeUrlDirectories(readWhole(templateRoot / "links.tsv"),
                                                  readWhole(staged / "links.tsv"));
    if (!writeWhole(staged / "links.tsv", links) ||
        !writeWhole(staged / rootVersionFile, readWhole(templateRoot / rootVersionFile))) {
        message = "cannot write in " + staged.string();
        return false;
    }
    return true;
}

// Swaps the prepared root and the user's root. renameat2 exchanges two
// folders in one step; where the file system cannot, the old root is moved
// aside first and a later run finds it there if a kill came in between.
bool switchIn(const fs::path& root, const fs::path& staged, const fs::path& retired, std::string& message) {
#ifdef RENAME_EXCHANGE
    if (renameat2(AT_FDCWD, root.c_str(), AT_FDCWD, staged.c_str(), RENAME_EXCHANGE) == 0) return true;
#endif
    std::error_code code;
    fs::rename(root, retired, code);
    if (!code) fs::rename(staged, root, code);
    if (code) {
        std::error_code ignored;
        if (!fs::exists(root, ignored)) fs::rename(retired, root, ignored);
        message = "cannot put the upgraded data folder in place: " + code.message();
        return false;
    }
    return true;
}

}  // namespace

std::string mergeUrlDirectories(const std::string& templateText, const std::string& userText) {
    std::set<int> delivered;
    std::istringstream templateLines(templateText);
    std::string line;
    while (std::getline(templateLines, line)) {
        DirectoryEntry entry;
        if (parseDirectoryLine(line, entry) == directoryEntry) delivered.insert(entry.link);
    }
    std::string merged = templateText;
    if (!merged.empty() && merged.back() != '\n') merged += '\n';
    std::istringstream userLines(userText);
    while (std::getline(userLines, line)) {
        DirectoryEntry entry;
        if (parseDirectoryLine(line, entry) != directoryEntry) continue;
        if (!delivered.insert(entry.link).second) continue;
        merged += formatDirectoryLine(entry) + "\n";
    }
    return merged;
}

UpgradeOutcome upgradeDataRoot(const std::string& templateRootText, const std::string& userFolderText,
                               std::string& message) {
    const fs::path templateRoot(templateRootText);
    const fs::path folder(userFolderText);
    const fs::path root = folder / "VESTRALUME";
    const fs::path staging = folder / stagingName;
    const fs::path retired = folder / retiredName;
    std::error_code code;

    // A kill between the two renames of the fallback switch left the old
    // root aside: it goes back before anything else.
    if (!fs::exists(fs::symlink_status(root, code)) && fs::is_directory(retired, code))
        fs::rename(retired, root, code);
    fs::remove_all(staging, code);
    fs::remove_all(retired, code);

    const std::string templateVersion = firstLine(readWhole(templateRoot / rootVersionFile));
    const std::string rootVersion = firstLine(readWhole(root / rootVersionFile));
    const int order = compareVersions(rootVersion, templateVersion);
    if (order == 0) return upgradeNotNeeded;
    if (order > 0) {
        message = "your data folder " + root.string() + " was made by a newer Quillon (" + rootVersion +
                  ") than this one (" + templateVersion + "); it is left as it is";
        return upgradeNewerRoot;
    }
    if (!fs::is_directory(root, code)) {
        message = root.string() + " is not a folder";
        return upgradeFailed;
    }
    const fs::path staged = staging / "VESTRALUME";
    if (!mirrorRoot(root, staged, message) || !bringDeliveredFiles(templateRoot, staged, message) ||
        !switchIn(root, staged, retired, message)) {
        fs::remove_all(staging, code);
        return upgradeFailed;
    }
    fs::remove_all(staging, code);
    fs::remove_all(retired, code);
    message = "your data folder " + root.string() + " was brought up to date (" +
              (rootVersion.empty() ? std::string("no version") : rootVersion) + " -> " + templateVersion + ")";
    return upgradeDone;
}
