// The user's own data root: where the installed launcher keeps it, and how it
// is made from the installed template on first use.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/data_root.h"
#include "catalogue/import.h"

namespace fs = std::filesystem;

std::string userDataFolder(std::string& error) {
    // A relative XDG_DATA_HOME is not valid and is ignored, as the desktop's
    // base directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return std::string(dataHome) + "/quillon";
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.local/share/quillon";
    error = "neither HOME nor XDG_DATA_HOME is set, so there is no place for your data; "
            "give the folder with --root";
    return std::string();
}

bool makeRootFromTemplate(const std::string& folder, const std::string& templateRoot,
                          std::string& error) {
    const std::string rootName = dataRoot.substr(0, dataRoot.size() - 1);
    const fs::path root = fs::path(folder) / rootName;
    std::error_code code;
    if (fs::exists(fs::symlink_status(root, code))) {
        if (fs::is_directory(root, code)) return true;
        error = root.string() + " is not a folder; move it away and try again";
        return false;
    }
    if (!fs::is_directory(templateRoot, code)) {
        error = "the data root template " + templateRoot + " is missing; reinstall Quillon";
        return false;
    }
    fs::create_directories(folder, code);
    if (code) {
        error = "cannot create the folder " + folder + " for your data: " + code.message();
        return false;
    }
    // What a first run killed outright left behind goes once it is an hour old.
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    std::vector<fs::path> stale;
    for (fs::directory_iterator entry(folder, code), end; !code && entry != end; entry.increment(code)) {
        const std::string name = entry->path().filename().string();
        std::error_code ignored;
        if (name.compare(0, rootName.size() + 2, "." + rootName + ".") == 0 &&
            entry->is_directory(ignored) && entry->last_write_time(ignored) < hourAgo)
            stale.push_back(entry->path());
    }
    for (const fs::path& old : stale) fs::remove_all(old, code);

    // Copied into a private folder beside the root and renamed into place
    // only when complete: an interrupted copy leaves no half root behind.
    fs::path staging;
    for (int attempt = 0; staging.empty() && attempt < 100; ++attempt) {
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path candidate =
            fs::path(folder) / ("." + rootName + "." + std::to_string((tick + attempt) % 1000000007));
        if (fs::create_directory(candidate, code)) staging = candidate;
    }
    if (staging.empty()) {
        error = "cannot write in " + folder + (code ? ": " + code.message() : std::string());
        return false;
    }
    const fs::path copy = staging / rootName;
    fs::copy(templateRoot, copy, fs::copy_options::recursive, code);
    if (!code) {
        // The template is read-only when installed; the user's copy is theirs.
        for (fs::recursive_directory_iterator entry(copy, code), end; !code && entry != end;
             entry.increment(code)) {
            std::error_code ignored;
            const bool folderEntry = entry->is_directory(ignored);
            fs::permissions(entry->path(),
                            fs::perms::owner_read | fs::perms::owner_write |
                                (folderEntry ? fs::perms::owner_exec : fs::perms::none),
                            fs::perm_options::add, ignored);
        }
    }
    if (code) {
        error = "could not copy " + templateRoot + " to " + folder + " (" + code.message() +
                "); nothing was changed";
        fs::remove_all(staging, code);
        return false;
    }
    fs::rename(copy, root, code);
    const bool inPlace = !code || fs::is_directory(root, code);
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    if (!inPlace) error = "could not put your data folder in place at " + root.string();
    return inPlace;
}
