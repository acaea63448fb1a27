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

// Upgrades <userFolder>/VESTRALUME from the template root `templateRoot` (a
// folder laid out like VESTRALUME). The caller holds the root's lock. On
// every outcome but upgradeNotNeeded `message` holds one plain sentence.
UpgradeOutcome upgradeDataRoot(const std::string& templateRoot, const std::string& userFolder,
                               std::string& message);

// The URL directory of an upgraded root: the template's file as it is, then
// every entry of the user's file whose link number the template does not
// have, in the user's order. Link numbers never change their address.
std::string mergeUrlDirectories(const std::string& templateText, const std::string& userText);
