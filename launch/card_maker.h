// The background card maker, started by the viewer: a catalogue imported
// with its cards still to be made (its card list, dataroot/pending_cards.h)
// gets them made while the wall runs, the page on the wall first; a maker
// killed earlier goes on where it stopped. The maker is the importer
// (`quillon-import --make-cards`), found beside the program.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Where the importer is looked for, relative to the folder holding the
// program: beside it in a build folder (tools/), in bin/ of an installation
// (the program in libexec/quillon/).
std::vector<std::string> cardMakerCandidates(const std::string& programFolder);

// The command that runs the importer found beside the program with `option`
// on the data root of the working directory ({importer, option, "--root",
// folder}); empty when there is none.
std::vector<std::string> importerCommand(const std::string& option);

// Starts the maker for the data root of the working directory when its
// catalogue has cards to make and the importer is found; says on standard
// error when it cannot. Returns whether it was started.
bool startCardMakerWhenPending();
