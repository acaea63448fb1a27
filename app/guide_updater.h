// The guide updater: when the catalogue was imported with a programme guide
// (VESTRALUME/guide.tsv), the viewer starts quillon-guide --follow beside it,
// which keeps the cards of the channels on the wall showing what is on now.
// It runs in a process of its own (a broken guide cannot take the wall down)
// and ends when the viewer ends.
#pragma once

#include <string>
#include <vector>

// Where the updater is looked for, in order: $QUILLON_GUIDE when set, then
// beside the viewer (a build folder keeps it in tools/, an installation in
// the bin folder next to libexec/quillon/).
std::vector<std::string> guideUpdaterCandidates(const std::string& programFolder,
                                                const char* overridePath);

// Starts the updater when the root in the working directory has a guide.
// Does nothing where programs are not started directly (Windows).
void startGuideUpdater();
