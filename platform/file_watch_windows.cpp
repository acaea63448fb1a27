// Reports of replaced files on Windows: each watched file's last write time
// and size, compared at most once a second.
#ifdef _WIN32

#include "platform/file_watch.h"

#include <algorithm>
#include <string>

#include <windows.h>

namespace {

std::string stampOf(const std::string& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return "-";
    return std::to_string(data.ftLastWriteTime.dwHighDateTime) + "." +
           std::to_string(data.ftLastWriteTime.dwLowDateTime) + " " + std::to_string(data.nFileSizeHigh) + "." +
           std::to_string(data.nFileSizeLow);
}

long long nowMilliseconds() { return static_cast<long long>(GetTickCount64()); }

}  // namespace

void watchFiles(FileWatch& watch, const std::vector<std::string>& files) {
    if (files == watch.files) return;
    std::vector<std::string> stamps;
    for (const std::string& file : files) {
        auto known = std::find(watch.files.begin(), watch.files.end(), file);
        const size_t at = static_cast<size_t>(known - watch.files.begin());
        stamps.push_back(known != watch.files.end() && at < watch.stamps.size() ? watch.stamps[at] : stampOf(file));
    }
    watch.files = files;
    watch.stamps = std::move(stamps);
}

std::vector<std::string> changedFiles(FileWatch& watch) {
    std::vector<std::string> changed;
    if (watch.files.empty() || nowMilliseconds() - watch.lastLook < 1000) return changed;
    watch.lastLook = nowMilliseconds();
    for (size_t at = 0; at < watch.files.size(); ++at) {
        std::string stamp = stampOf(watch.files[at]);
        if (at < watch.stamps.size() && stamp != watch.stamps[at]) changed.push_back(watch.files[at]);
        if (at < watch.stamps.size()) watch.stamps[at] = std::move(stamp);
    }
    return changed;
}

void endFileWatch(FileWatch& watch) {
    watch.files.clear();
    watch.stamps.clear();
}

#endif
