#include "launch/card_maker.h"

#include <filesystem>
#include <system_error>

#include "dataroot/data_root.h"
#include "dataroot/pending_cards.h"
#include "platform/process.h"
#include "platform/report.h"

namespace fs = std::filesystem;

std::vector<std::string> cardMakerCandidates(const std::string& programFolder) {
    const fs::path folder(programFolder);
    return {(folder / "tools" / "quillon-import").lexically_normal().string(),
            (folder / ".." / ".." / "bin" / "quillon-import").lexically_normal().string()};
}

std::vector<std::string> importerCommand(const std::string& option) {
    const std::string program = runningProgramPath();
    if (program.empty()) return {};
    std::error_code code;
    const fs::path here = fs::current_path(code);
    if (code) return {};
    for (const std::string& candidate : cardMakerCandidates(fs::path(program).parent_path().string()))
        if (fs::is_regular_file(candidate, code)) return {candidate, option, "--root", here.string()};
    return {};
}

bool startCardMakerWhenPending() {
    if (!hasPendingCards(dataRoot + "1")) return false;
    const std::vector<std::string> command = importerCommand("--make-cards");
    if (!command.empty()) {
        StartedProgram maker = startProgram(command);
        const bool started = maker.started;
        releaseProgram(maker);
        if (started) return true;
    }
    report(ReportLevel::problem, "Quillon: some cards of the catalogue are still to be made, but "
                                 "quillon-import, which makes them, was not found beside the program; the "
                                 "tiles show placeholders until quillon-import --make-cards runs");
    return false;
}
