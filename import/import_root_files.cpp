#include "import/import_root_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

FileOutcome readImportRootFile(const std::string& root, const std::string& path, std::size_t limit,
                               std::string& bytes) {
    bytes.clear();
    const fs::path below = fs::path(path).lexically_relative(root);
    if (below.empty() || below.is_absolute() || *below.begin() == ".." || *below.begin() == ".")
        return fileOutside;
    return readFileBeneath(root, below.generic_string(), limit, bytes);
}

std::string readImportRootFile(const std::string& root, const std::string& path, std::size_t limit) {
    std::string bytes;
    readImportRootFile(root, path, limit, bytes);
    return bytes;
}

std::string importFolderLeadingOutside(const std::string& root) {
    std::error_code code;
    const fs::path realRoot = fs::canonical(root, code);
    if (code) return std::string();
    for (const char* name : {"n", "1"}) {
        const fs::path folder = fs::path(root) / name;
        if (!fs::is_symlink(fs::symlink_status(folder, code))) continue;
        // A link that leads nowhere leads nowhere outside either; the import
        // then fails on it as on a missing folder.
        const fs::path real = fs::weakly_canonical(folder, code);
        const fs::path inside = real.lexically_relative(realRoot);
        if (code || inside.empty() || *inside.begin() == ".." || inside == ".") return folder.string();
    }
    return std::string();
}

std::vector<LinkUse> linkFilesInUse(const std::string& root, int catalogueCount) {
    std::vector<LinkUse> uses;
    std::string text;
    auto add = [&](const std::string& relative) {
        if (readFileBeneath(root, relative, stateFileLimit, text) != fileRead) return;
        const LinkUse use = parseLinkFile(text);
        if (use.link > 0) uses.push_back(use);
    };
    for (int channel = 1; channel <= catalogueCount; ++channel) add("1/" + std::to_string(channel) + ".txt");
    std::error_code code;
    for (fs::directory_iterator entry(fs::path(root) / "2", code), end; !code && entry != end;
         entry.increment(code)) {
        const std::string name = entry->path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0 &&
            std::all_of(name.begin(), name.end() - 4, [](char c) { return c >= '0' && c <= '9'; }))
            add("2/" + name);
    }
    return uses;
}
