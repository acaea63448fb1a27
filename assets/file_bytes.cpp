#include "assets/file_bytes.h"

#include "platform/report.h"

FileOutcome readAssetFile(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
    // Images and models are named by the data root's own files (tile path
    // files, model lines), so they come from the data root and nowhere else.
    if (!isDataRootPath(path)) return fileOutside;
    return readLimitedFile(path, limit, bytes);
}

void reportUnreadableAsset(const std::string& path, FileOutcome outcome, std::size_t limit) {
    if (outcome == fileRead || outcome == fileMissing) return;
    report(ReportLevel::problem, "Quillon: " + path + " " + describeFileOutcome(outcome, limit));
}
