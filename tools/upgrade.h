// Bringing a user's data root up to date with a newer installed template.
//
// Each user's root is a copy of the template made on their first run. When a
// newer program is installed, its delivered files (models, scene images,
// placeholders, templates, the delivered catalogue and directory entries)
// are brought into the user's root, and everything the user owns stays:
// state files, favourites, an imported catalogue, directory entries added by
// imports. The new root is prepared beside the old one and switched in with
// one atomic exchange, so a kill at any moment leaves the old root or the new
// one, never a mix.
#pragma once

#include <string>

enum UpgradeOutcome {
    upgradeNotNeeded,  // the root is as new as the template
    upgradeDone,       // the root now carries the template's version
    upgradeNewerRoot,  // the root comes from a newer version: left alone
    upgradeFailed,     // nothing changed; `message` says why
};

// Swaps the folders `a` and `b` in one step and says whether it did; the
// tools pass the platform's folder exchange (platform/folder_exchange.h).
using SwapFolders = bool (*)(const std::string& a, const std::string& b);

// Upgrades <userFolder>/VESTRALUME from the template root `templateRoot` (a
// folder laid out like VESTRALUME). The caller holds the root's lock. On
// every outcome but upgradeNotNeeded `message` holds one plain sentence
// (upgradeNotNeeded may carry a note: an old root kept beside it).
// - The prepared root is switched in with `swapFolders`; without it, or when
//   it cannot swap, the old root is moved aside to a folder beside it and
//   the new one renamed into place. A root found missing with the old root
//   still aside (a kill came between the two renames) is put back first,
//   and the folder aside is deleted only once it is back in place or
//   superseded by its own upgrade.
// - No root and nothing aside is upgradeNotNeeded: there is nothing to do.
// - Files are read without blocking and within their caps
//   (dataroot/safe_file.h); a version.txt that cannot be read counts as no
//   version.
// - Symbolic links are mirrored as links, never followed; a link that leads
//   out of the root refuses the upgrade and nothing changes.
// - A root folder that is itself a link is upgraded where it leads, and the
//   link stays.
UpgradeOutcome upgradeDataRoot(const std::string& templateRoot, const std::string& userFolder,
                               std::string& message, SwapFolders swapFolders = nullptr);

// The URL directory of an upgraded root: the template's file as it is, then
// every entry of the user's file whose link number the template does not
// have, in the user's order. Link numbers never change their address.
std::string mergeUrlDirectories(const std::string& templateText, const std::string& userText);
