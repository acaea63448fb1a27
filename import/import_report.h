// What the importer tells the person running it: the progress bar on a
// terminal, the skipped entries and the closing summary. Text only; the
// program decides where it goes.
#pragma once

#include <string>
#include <vector>

#include "import/import.h"

// The problems of a playlist as they are found: every one counted, the first
// `kept` of each kind stored for the report (a playlist of junk would
// otherwise fill the memory with messages).
struct ProblemLog {
    size_t kept = 100;
    size_t skipped = 0, notes = 0;
    std::vector<PlaylistProblem> skippedShown, notesShown;
};

void logProblem(ProblemLog& log, const PlaylistProblem& problem);

// "12,345"
std::string formatCount(size_t value);

// One line of the progress display, at most `width` columns: entries read,
// logos fetched / cached / failed, cards made, the rate and the time left.
// `seconds` is the time spent in the current stage.
std::string progressLine(const ImportProgress& progress, double seconds, int width);

// The report lines of the playlist's problems: every skipped entry shown with
// its line number and reason, then the repairs, each list ending in a count
// of those not shown.
std::vector<std::string> problemReport(const ProblemLog& log);

// The closing summary of an import that switched in.
std::vector<std::string> importSummary(const ImportResult& result, const std::string& source,
                                       const std::string& root);
