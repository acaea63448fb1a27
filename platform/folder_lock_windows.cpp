// The folder lock on Windows: a handle to the folder itself opened without
// sharing. A second program asking for the same folder is refused with a
// sharing violation until the handle is closed, at the latest when the
// process ends.
#ifdef _WIN32

#include "platform/folder_lock.h"

#include <map>

#include <windows.h>

namespace {

std::map<std::string, HANDLE> heldLocks;

}  // namespace

FolderLock lockFolder(const std::string& folder) {
    if (heldLocks.count(folder) != 0) return folderLocked;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return folderUnavailable;
    HANDLE handle = CreateFileA(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? folderBusy : folderUnavailable;
    heldLocks[folder] = handle;
    return folderLocked;
}

void unlockFolder(const std::string& folder) {
    auto held = heldLocks.find(folder);
    if (held == heldLocks.end()) return;
    CloseHandle(held->second);
    heldLocks.erase(held);
}

#endif
