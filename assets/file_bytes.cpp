#include "assets/file_bytes.h"

#include <cstdio>

FileOutcome readAssetFile(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
    // Images and models are named by the data root's own files (tile path
    // files, model lines), so they come from the data root and nowhere else.
    if (!isDataRootPath(path)) return fileOutside;
    return readLimitedFile(path, limit, bytes);
}

void reportUnreadableAsset(const std::string& path, FileOutcome outcome, std::size_t limit) {
    if (outcome == fileRead || outcome == fileMissing) return;
    std::fprintf(stderr, "Quillon: %s %s\n", path.c_str(), describeFileOutcome(outcome, limit).c_str());
}
