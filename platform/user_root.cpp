#include "platform/user_root.h"

#include <chrono>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string stagingPrefix = ".VESTRALUME.";

// Paths in messages, in UTF-8 on every system.
std::string shown(const fs::path& path) {
    return path.u8string();
}

// The upgrader's own folders beside the root (tools/upgrade.h): the old root
// it moved aside is the user's data until it is back in place, so only the
// upgrader clears them.
bool isUpgraderFolder(const std::string& name) {
    return name == stagingPrefix + "retired" || name == stagingPrefix + "upgrade";
}

// A folder left behind by a first start that was killed: one that is still
// being filled by another start is younger than an hour.
void removeStaleStaging(const fs::path& folder) {
    std::error_code error;
    const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().u8string();
        if (name.compare(0, stagingPrefix.size(), stagingPrefix) != 0 || isUpgraderFolder(name))
            continue;
        std::error_code ignored;
        if (!entry->is_directory(ignored) || entry->is_symlink(ignored)) continue;
        fs::file_time_type written = fs::last_write_time(entry->path(), ignored);
        if (!ignored && written < limit) fs::remove_all(entry->path(), ignored);
    }
}

// A new, empty, hidden folder beside the root, or an empty path.
fs::path makeStagingFolder(const fs::path& folder) {
    std::random_device seed;
    std::mt19937_64 random(seed() ^ static_cast<unsigned long long>(
                                        std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path staging = folder / (stagingPrefix + std::to_string(random() % 1000000000));
        std::error_code error;
        if (fs::create_directory(staging, error)) {
#ifdef _WIN32
            SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif
            return staging;
        }
        if (error) return {};
    }
    return {};
}

// The user owns the copy: files that were read-only in the template (as
// installed files may be) become writable, so the program can keep its state.
bool makeWritable(const fs::path& copy) {
    std::error_code error;
    fs::permissions(copy, fs::perms::owner_all, fs::perm_options::add, error);
    if (error) return false;
    for (fs::recursive_directory_iterator entry(copy, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code changed;
        fs::perms wanted = entry->is_directory(changed) ? fs::perms::owner_all
                                                        : fs::perms::owner_read | fs::perms::owner_write;
        fs::permissions(entry->path(), wanted, fs::perm_options::add | fs::perm_options::nofollow,
                        changed);
        if (changed) return false;
    }
    return !error;
}

}  // namespace

std::string makeUserDataRoot(const fs::path& templateRoot, const fs::path& root) {
    std::error_code error;
    fs::file_status status = fs::symlink_status(root, error);
    if (fs::exists(status)) {
        if (fs::is_directory(fs::status(root, error))) return "";
        return shown(root) + " is not a folder; move it away and start Quillon again";
    }
    if (!fs::is_directory(templateRoot, error))
        return "the data template " + shown(templateRoot) + " is missing; reinstall Quillon";

    const fs::path folder = root.parent_path();
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder, error))
        return "cannot create the folder " + shown(folder) + " for your data";
    removeStaleStaging(folder);
    const fs::path staging = makeStagingFolder(folder);
    if (staging.empty()) return "cannot write in " + shown(folder);

    const fs::path copy = staging / root.filename();
    fs::copy(templateRoot, copy, fs::copy_options::recursive, error);
    if (error || !makeWritable(copy)) {
        fs::remove_all(staging, error);
        return "could not copy " + shown(templateRoot) + " to " + shown(folder) +
               "; nothing was changed";
    }
    // Renaming a folder never replaces a root that another first start has
    // just put in place (nor anything else that appeared there meanwhile).
    fs::rename(copy, root, error);
    std::string problem;
    if (error && !fs::is_directory(root))
        problem = "could not put your data folder in place at " + shown(root);
    fs::remove_all(staging, error);
    return problem;
}
