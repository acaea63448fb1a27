// Switching a folder for another in one step, so that a reader (or a crash)
// never finds neither of them in place.
#pragma once

#include <string>

enum FolderExchange {
    foldersExchanged,     // `a` now holds what `b` held and the other way round
    exchangeUnsupported,  // the system or its file system cannot swap in one step
    exchangeFailed        // the swap was refused (see errno)
};

// Swaps the folders `a` and `b`, which must be on one file system.
FolderExchange exchangeFolders(const std::string& a, const std::string& b);

// Writes everything of the file system holding `path` that is still only in
// memory to its disk, so that a power cut after a later rename does not find
// the renamed files empty. Returns whether it worked.
bool flushFileSystem(const std::string& path);
