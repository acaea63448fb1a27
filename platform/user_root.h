// The user's own data root, made from an installed template that is never
// written: the one maker, which the Windows launcher uses on every start and
// the playlist importer for a user without a root. The Linux launcher script
// (packaging/quillon.in) keeps a minimal shell copy of these rules (cp into a
// hidden folder, mv -T into place), so that a first start needs no program
// of the package beyond the viewer itself.
#pragma once

#include <filesystem>
#include <string>

// Makes `root` a copy of the folder `templateRoot` when nothing is at `root`
// yet; a root that exists is left exactly as it is. The copy is made in a
// hidden folder beside `root` (named ".VESTRALUME.<something>") and renamed
// into place only when it is complete and writable, so an interrupted first
// start leaves nothing behind that a later start would take for a real root;
// such folders are removed once they are an hour old (never the upgrader's
// ".VESTRALUME.retired" and ".VESTRALUME.upgrade", which hold the user's
// data while an upgrade is under way). When two first starts
// race, the first rename wins and the other start uses that root.
//
// Returns an empty string when `root` is a folder afterwards, otherwise a
// message for the user saying what is missing or cannot be written (and
// nothing is then left at `root`).
std::string makeUserDataRoot(const std::filesystem::path& templateRoot,
                             const std::filesystem::path& root);
