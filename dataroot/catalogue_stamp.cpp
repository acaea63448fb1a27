#include "dataroot/catalogue_stamp.h"

#include <filesystem>
#include <system_error>

#include "dataroot/data_root.h"

namespace fs = std::filesystem;

std::string fileStamp(const std::string& path) {
    std::error_code code;
    const fs::file_time_type time = fs::last_write_time(path, code);
    if (code) return "-";
    const std::uintmax_t size = fs::file_size(path, code);
    if (code) return "-";
    return std::to_string(time.time_since_epoch().count()) + " " + std::to_string(size);
}

std::string catalogueStamp(const std::string& folder) {
    const fs::path base = folder.empty() ? fs::path() : fs::path(folder);
    return fileStamp((base / channelCountFile).string());
}

std::vector<int> pageKeptInside(const std::vector<int>& page, int lastFirst) {
    if (page.empty() || (page[0] >= 1 && page[0] <= lastFirst)) return page;
    const int first = page[0] > lastFirst ? (lastFirst >= 1 ? lastFirst : 1) : 1;
    std::vector<int> inside(page.size());
    for (size_t tile = 0; tile < page.size(); ++tile) inside[tile] = first + static_cast<int>(tile);
    return inside;
}
