#include "tools/upgrade.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "dataroot/data_root.h"
#include "dataroot/root_files.h"
#include "dataroot/safe_file.h"
#include "dataroot/url_directory_file.h"

namespace fs = std::filesystem;

namespace {

// The upgrade's work folders beside the root (named after the root's own
// folder, ".VESTRALUME.upgrade" for the usual name): the new root is
// prepared in the first; the second holds the old root only when the system
// cannot exchange two folders in one step.
std::string stagingName(const fs::path& root) { return "." + root.filename().string() + ".upgrade"; }
std::string retiredName(const fs::path& root) { return "." + root.filename().string() + ".retired"; }

// A file of a root or of the template, read by the safe reader's rules:
// nothing that is not a regular file, nothing over `limit`. Empty otherwise.
std::string readBeneath(const fs::path& root, const std::string& relative, std::size_t limit) {
    std::string bytes;
    if (readFileBeneath(root.string(), relative, limit, bytes) != fileRead) bytes.clear();
    return bytes;
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

// A version as a message shows it: short, printable, never a whole file.
std::string versionForMessage(const std::string& version) {
    if (version.empty()) return "no version";
    std::string shown;
    for (char c : version.substr(0, 32)) shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (version.size() > 32) shown += "...";
    return shown;
}

// Whether the symbolic link `relative` (a path below `root`) with the text
// `target` leads to a place inside `root`. By its text: a relative target
// that never climbs above the root. Then by what the file system says, since
// a ".." after a link inside climbs from where that link leads.
bool linkStaysInside(const fs::path& root, const fs::path& relative, const fs::path& target) {
    if (target.empty() || target.is_absolute() || target.has_root_name()) return false;
    const fs::path joined = (relative.parent_path() / target).lexically_normal();
    if (joined.empty() || *joined.begin() == "..") return false;
    std::error_code code;
    const fs::path realRoot = fs::canonical(root, code);
    if (code) return false;
    const fs::path resolved = fs::weakly_canonical(root / relative.parent_path() / target, code);
    if (code) return false;
    const fs::path inside = resolved.lexically_relative(realRoot);
    return !inside.empty() && *inside.begin() != "..";
}

// A copy of the user's root in which every file is a hard link to the
// user's file (or a copy where linking fails) and every symbolic link a link
// with the same text. The running program replaces files by renaming new
// ones over them, never by writing into them, so the shared files are safe;
// the upgrade below does the same. A link leading out of the root refuses
// the copy: the root would otherwise reach outside itself once upgraded.
bool mirrorRoot(const fs::path& from, const fs::path& to, std::string& message) {
    std::error_code code;
    fs::create_directories(to, code);
    if (code) {
        message = "cannot create " + to.string() + ": " + code.message();
        return false;
    }
    for (auto entry = fs::recursive_directory_iterator(from, code);
         !code && entry != fs::recursive_directory_iterator(); entry.increment(code)) {
        // Named by the text of the path, never by where links lead.
        const fs::path relative = entry->path().lexically_relative(from);
        const fs::path target = to / relative;
        const fs::file_status status = entry->symlink_status(code);
        if (code) break;
        if (fs::is_symlink(status)) {
            const fs::path text = fs::read_symlink(entry->path(), code);
            if (code) break;
            if (!linkStaysInside(from, relative, text)) {
                message = "the symbolic link " + entry->path().string() + " leads out of the data folder (to " +
                          text.string() + "); move it away or make it a file, and start Quillon again";
                return false;
            }
            fs::create_symlink(text, target, code);
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
// from one version to the next, and reading is cheaper than writing. Only
// regular files are compared, never through a link.
bool sameContent(const fs::path& a, const fs::path& b) {
    std::error_code code;
    if (!fs::is_regular_file(fs::symlink_status(b, code)) || !fs::is_regular_file(fs::symlink_status(a, code)) ||
        fs::file_size(a, code) != fs::file_size(b, code) || code)
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

// Whether a folder on the way from `root` to `relative` is a symbolic link:
// the staged root is written only in folders of its own.
bool throughLink(const fs::path& root, const fs::path& relative) {
    fs::path folder = root;
    std::error_code code;
    for (const fs::path& part : relative.parent_path()) {
        folder /= part;
        if (fs::is_symlink(fs::symlink_status(folder, code))) return true;
    }
    return false;
}

// Puts the template's file in place of the staged one: the staged name is
// unlinked first, so the user's file it may share stays untouched.
bool replaceWithTemplateFile(const fs::path& source, const fs::path& staged, const std::string& relative,
                             std::string& message) {
    const fs::path target = staged / relative;
    if (sameContent(source, target)) return true;
    if (throughLink(staged, relative)) {
        message = "cannot write " + target.string() + ": a folder on its way is a symbolic link";
        return false;
    }
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    if (!code) fs::remove(target, code);
    if (!code) fs::copy_file(source, target, code);
    if (code) message = "cannot write " + target.string() + ": " + code.message();
    return !code;
}

bool bringDeliveredFiles(const fs::path& templateRoot, const fs::path& staged, std::string& message) {
    std::error_code code;
    const bool imported = fs::exists(fs::symlink_status(staged / "1" / "count.txt", code));
    for (auto entry = fs::recursive_directory_iterator(templateRoot, code);
         !code && entry != fs::recursive_directory_iterator(); entry.increment(code)) {
        if (!fs::is_regular_file(entry->symlink_status(code))) continue;
        const std::string relative = entry->path().lexically_relative(templateRoot).generic_string();
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
        if (replace && !replaceWithTemplateFile(entry->path(), staged, relative, message)) return false;
    }
    if (code) {
        message = "cannot read the template " + templateRoot.string() + ": " + code.message();
        return false;
    }
    // A catalogue the user never replaced is the template's exactly: channels
    // the new template no longer delivers go with it.
    if (!imported && !throughLink(staged, "1/x")) {
        for (auto entry = fs::directory_iterator(staged / "1", code);
             !code && entry != fs::directory_iterator(); entry.increment(code)) {
            if (!fs::exists(fs::symlink_status(templateRoot / "1" / entry->path().filename())))
                fs::remove_all(entry->path(), code);
        }
    }
    const std::string links = mergeUrlDirectories(readBeneath(templateRoot, "links.tsv", tableFileLimit),
                                                  readBeneath(staged, "links.tsv", tableFileLimit));
    if (links.size() > tableFileLimit) {
        message = "the merged directory links.tsv would be larger than the viewer reads";
        return false;
    }
    if (!writeWhole(staged / "links.tsv", links) ||
        !writeWhole(staged / rootVersionFile, readBeneath(templateRoot, rootVersionFile, stateFileLimit))) {
        message = "cannot write in " + staged.string();
        return false;
    }
    return true;
}

// Swaps the prepared root and the user's root: in one step where the
// platform can; otherwise the old root is moved aside first and a later run
// finds it there if a kill came in between.
bool switchIn(const fs::path& root, const fs::path& staged, const fs::path& retired, SwapFolders swapFolders,
              bool retiredTaken, std::string& message) {
    if (swapFolders && swapFolders(root.string(), staged.string())) return true;
    if (retiredTaken) {
        message = "cannot put the upgraded data folder in place while " + retired.string() + " is kept";
        return false;
    }
    std::error_code code;
    fs::rename(root, retired, code);
    if (!code) {
        fs::rename(staged, root, code);
        if (code) {
            std::error_code ignored;
            fs::rename(retired, root, ignored);
        }
    }
    if (code) {
        message = "cannot put the upgraded data folder in place: " + code.message();
        return false;
    }
    return true;
}

// Where the root really is: the folder itself, or where the link in its
// place leads (one link, made absolute), also when nothing is there.
fs::path realRootOf(const fs::path& root) {
    std::error_code code;
    if (!fs::is_symlink(fs::symlink_status(root, code))) return root;
    fs::path target = fs::read_symlink(root, code);
    if (code) return root;
    if (target.is_relative()) target = root.parent_path() / target;
    const fs::path real = fs::weakly_canonical(target, code);
    return code || real.filename().empty() ? root : real;
}

// Whether `root` is the upgrade of the old root kept aside in `retired`:
// every state file and the imported count are the same in both (an upgrade
// keeps them as they are; a first run's fresh root would not).
bool supersedes(const fs::path& root, const fs::path& retired) {
    std::error_code code;
    std::vector<std::string> names = {"1/count.txt"};
    for (auto entry = fs::directory_iterator(retired / "n", code);
         !code && entry != fs::directory_iterator(); entry.increment(code)) {
        const std::string relative = "n/" + entry->path().filename().string();
        if (isStateFile(relative)) names.push_back(relative);
    }
    if (code) return false;
    for (const std::string& name : names) {
        std::string before, after;
        const FileOutcome old = readFileBeneath(retired.string(), name, stateFileLimit, before);
        const FileOutcome now = readFileBeneath(root.string(), name, stateFileLimit, after);
        if (old != now || before != after) return false;
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
                               std::string& message, SwapFolders swapFolders) {
    const fs::path templateRoot(templateRootText);
    const fs::path root = realRootOf(fs::path(userFolderText) / "VESTRALUME");
    const fs::path staging = root.parent_path() / stagingName(root);
    const fs::path retired = root.parent_path() / retiredName(root);
    std::error_code code;

    // A kill between the two renames of the fallback switch left the old
    // root aside: it goes back before anything else.
    const bool rootThere = fs::exists(fs::symlink_status(root, code));
    const bool retiredThere = fs::is_directory(fs::symlink_status(retired, code));
    if (!rootThere && retiredThere) {
        fs::rename(retired, root, code);
        if (code) {
            message = "cannot put your data folder back from " + retired.string() + " to " + root.string() +
                      ": " + code.message();
            return upgradeFailed;
        }
    } else if (!rootThere) {
        return upgradeNotNeeded;  // no root yet: the first run makes one
    }
    fs::remove_all(staging, code);
    bool keepRetired = false;
    if (rootThere && retiredThere) {
        // Deleted only when the root is its upgrade; anything else keeps it
        // for the user, and the fallback switch below cannot overwrite it.
        if (supersedes(root, retired)) {
            fs::remove_all(retired, code);
        } else {
            keepRetired = true;
            message = "an older data folder is kept at " + retired.string() + " beside your data folder " +
                      root.string() + "; move what you need from it and delete it";
        }
    }

    const std::string templateVersion = firstLine(readBeneath(templateRoot, rootVersionFile, stateFileLimit));
    const std::string rootVersion = firstLine(readBeneath(root, rootVersionFile, stateFileLimit));
    const int order = compareVersions(rootVersion, templateVersion);
    if (order == 0) return upgradeNotNeeded;
    if (order > 0) {
        message = "your data folder " + root.string() + " was made by a newer Quillon (" +
                  versionForMessage(rootVersion) + ") than this one (" + versionForMessage(templateVersion) +
                  "); it is left as it is";
        return upgradeNewerRoot;
    }
    if (!fs::is_directory(root, code)) {
        message = root.string() + " is not a folder";
        return upgradeFailed;
    }
    const std::string note = message;
    const fs::path staged = staging / "VESTRALUME";
    if (!mirrorRoot(root, staged, message) || !bringDeliveredFiles(templateRoot, staged, message) ||
        !switchIn(root, staged, retired, swapFolders, keepRetired, message)) {
        fs::remove_all(staging, code);
        return upgradeFailed;
    }
    // The new root is in place: only now may the old one go.
    fs::remove_all(staging, code);
    if (!keepRetired) fs::remove_all(retired, code);
    message = "your data folder " + root.string() + " was brought up to date (" + versionForMessage(rootVersion) +
              " -> " + versionForMessage(templateVersion) + ")";
    if (!note.empty()) message += "; " + note;
    return upgradeDone;
}
