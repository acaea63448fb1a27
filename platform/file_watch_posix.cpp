// Reports of replaced files on Linux: inotify on the folders of the watched
// files; where inotify cannot be had, a comparison of each file's
// modification time, size and inode once a second.
#include "platform/file_watch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// More folders than this are never watched at once: beyond it the watch is
// set up again for the files watched now.
constexpr size_t folderWatchLimit = 32;

constexpr uint32_t folderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

long long nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string folderOf(const std::string& file) {
    const std::string::size_type slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

std::string stampOf(const std::string& file) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0) return "-";
    return std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) + " " +
           std::to_string(status.st_size) + " " + std::to_string(status.st_ino);
}

void closeReports(FileWatch& watch) {
    if (watch.reports >= 0) close(watch.reports);
    watch.reports = -1;
    watch.folders.clear();
    watch.folderWatches.clear();
}

// Adds a watch for every folder of the watched files that has none yet.
void watchFolders(FileWatch& watch) {
    if (watch.reports < 0) return;
    for (const std::string& file : watch.files) {
        const std::string folder = folderOf(file);
        auto known = std::find(watch.folders.begin(), watch.folders.end(), folder);
        if (known == watch.folders.end()) {
            watch.folders.push_back(folder);
            watch.folderWatches.push_back(-1);
            known = watch.folders.end() - 1;
        }
        int& folderWatch = watch.folderWatches[static_cast<size_t>(known - watch.folders.begin())];
        if (folderWatch < 0) folderWatch = inotify_add_watch(watch.reports, folder.c_str(), folderEvents);
    }
}

bool openReports(FileWatch& watch) {
    closeReports(watch);
    watch.reports = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch.reports < 0) return false;
    watchFolders(watch);
    return true;
}

void takeStamps(FileWatch& watch, std::vector<std::string>* changed) {
    std::vector<std::string> stamps;
    stamps.reserve(watch.files.size());
    for (size_t at = 0; at < watch.files.size(); ++at) {
        stamps.push_back(stampOf(watch.files[at]));
        if (changed && at < watch.stamps.size() && stamps.back() != watch.stamps[at])
            changed->push_back(watch.files[at]);
    }
    watch.stamps = std::move(stamps);
    watch.lastLook = nowMilliseconds();
}

}  // namespace

void watchFiles(FileWatch& watch, const std::vector<std::string>& files) {
    if (files == watch.files) return;
    // Stamps of files watched before stay with their files.
    std::vector<std::string> stamps;
    for (const std::string& file : files) {
        auto known = std::find(watch.files.begin(), watch.files.end(), file);
        const size_t at = static_cast<size_t>(known - watch.files.begin());
        stamps.push_back(known != watch.files.end() && at < watch.stamps.size() ? watch.stamps[at] : stampOf(file));
    }
    watch.files = files;
    watch.stamps = std::move(stamps);
    if (watch.reports < 0 || watch.folders.size() > folderWatchLimit) {
        openReports(watch);
    } else {
        watchFolders(watch);
    }
}

std::vector<std::string> changedFiles(FileWatch& watch) {
    std::vector<std::string> changed;
    if (watch.files.empty()) return changed;
    if (watch.reports < 0) {
        // No reports: compare the files once a second, and try again to get
        // reports.
        if (nowMilliseconds() - watch.lastLook < 1000) return changed;
        takeStamps(watch, &changed);
        openReports(watch);
        return changed;
    }
    std::vector<bool> reported(watch.files.size(), false);
    // Changed files of the watched folders that are not watched themselves.
    std::vector<std::string> others;
    std::unordered_set<std::string> seen;
    bool lost = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(watch.reports, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) continue;
        if (length <= 0) break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                lost = true;
                continue;
            }
            auto folder = std::find(watch.folderWatches.begin(), watch.folderWatches.end(), event->wd);
            // Temporary files (".NAME.PID.tmp") are of no interest.
            if (folder == watch.folderWatches.end() || event->len == 0 || event->name[0] == '.') continue;
            const std::string& folderName = watch.folders[static_cast<size_t>(folder - watch.folderWatches.begin())];
            const std::string path = folderName + "/" + event->name;
            auto watched = std::find(watch.files.begin(), watch.files.end(), path);
            if (watched != watch.files.end())
                reported[static_cast<size_t>(watched - watch.files.begin())] = true;
            else if (seen.insert(path).second)
                others.push_back(path);
        }
    }
    // A folder that could not be watched (it did not exist yet) is tried
    // again once a second; its files count as changed once it can be.
    if (nowMilliseconds() - watch.lastLook >= 1000) {
        watch.lastLook = nowMilliseconds();
        for (size_t folder = 0; folder < watch.folders.size(); ++folder) {
            if (watch.folderWatches[folder] >= 0) continue;
            watch.folderWatches[folder] = inotify_add_watch(watch.reports, watch.folders[folder].c_str(), folderEvents);
            if (watch.folderWatches[folder] < 0) continue;
            for (size_t file = 0; file < watch.files.size(); ++file)
                if (folderOf(watch.files[file]) == watch.folders[folder]) reported[file] = true;
        }
    }
    watch.reportsLost = lost;
    if (lost) {
        openReports(watch);
        return watch.files;
    }
    for (size_t file = 0; file < watch.files.size(); ++file)
        if (reported[file]) changed.push_back(watch.files[file]);
    changed.insert(changed.end(), others.begin(), others.end());
    return changed;
}

void endFileWatch(FileWatch& watch) {
    closeReports(watch);
    watch.files.clear();
    watch.stamps.clear();
}
