// An advisory lock on a folder, held until the process ends. The viewer
// holds one on its data root while it runs and the importer while it
// imports, so neither works on a root another of them is using. Locking the
// folder itself leaves no lock file behind, and the lock goes away with the
// process however it ends.
#pragma once

#include <string>

enum FolderLock {
    folderLocked,      // this process now holds the lock (or held it already)
    folderBusy,        // another process holds it
    folderUnavailable  // the folder cannot be opened (missing, not a folder)
};

FolderLock lockFolder(const std::string& folder);

// Lets go of a lock this process holds; nothing when it holds none.
void unlockFolder(const std::string& folder);
