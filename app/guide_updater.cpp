#include "app/guide_updater.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "dataroot/data_root.h"
#include "platform/process.h"

namespace fs = std::filesystem;

std::vector<std::string> guideUpdaterCandidates(const std::string& programFolder,
                                                const char* overridePath) {
    std::vector<std::string> candidates;
    if (overridePath && *overridePath) candidates.push_back(overridePath);
    if (!programFolder.empty()) {
        const fs::path folder(programFolder);
        candidates.push_back((folder / "quillon-guide").string());
        candidates.push_back((folder / "tools" / "quillon-guide").string());
        candidates.push_back((folder / ".." / ".." / "bin" / "quillon-guide").lexically_normal().string());
    }
    return candidates;
}

void startGuideUpdater() {
    std::error_code code;
    if (!fs::is_regular_file(dataRoot + "guide.tsv", code)) return;
    const std::string folder = ownProgramFolder();
    if (folder.empty()) return;
    for (const std::string& candidate : guideUpdaterCandidates(folder, std::getenv("QUILLON_GUIDE"))) {
        if (!fs::is_regular_file(candidate, code)) continue;
        StartedProgram updater = startProgram(
            {candidate, "--follow", "--root", ".", "--viewer", std::to_string(ownProcessId())});
        // It watches this process and ends with it.
        releaseProgram(updater);
        if (!updater.started)
            std::fprintf(stderr, "Quillon: cannot start the guide updater %s\n", candidate.c_str());
        return;
    }
    std::fprintf(stderr, "Quillon: the catalogue has a programme guide, but quillon-guide is "
                         "not installed beside Quillon; the cards stay as imported\n");
}
