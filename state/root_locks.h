// The locks that keep the writers of a data root apart.
//
// - The viewer holds the root's own lock (the folder VESTRALUME itself)
//   while it runs: a second viewer is refused.
// - An import holds the import lock (the folder VESTRALUME/.import, made on
//   first use) while it works: a second import is refused. A viewer and an
//   import may run at once: the import only ever switches a whole catalogue
//   in with one exchange of folders, and the viewer follows it.
// - An upgrade holds both, so it meets neither a viewer nor an import.
//
// Both are folder locks (platform/folder_lock.h): nothing is left behind on
// disk but the empty folder, and a lock goes with its process however it
// ends.
#pragma once

#include <string>

#include "platform/folder_lock.h"

// The folder whose lock an import holds, for the data root <folder>/VESTRALUME.
std::string importLockFolder(const std::string& folder);

// Takes the import lock of <folder>/VESTRALUME for the rest of the process,
// making its folder when the root has none yet. folderUnavailable when there
// is no root there or the folder cannot be made.
FolderLock lockImports(const std::string& folder);

// Lets go of the import lock of <folder>/VESTRALUME; nothing when this
// process holds none.
void unlockImports(const std::string& folder);
