#include "state/root_locks.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string importLockFolder(const std::string& folder) {
    return (fs::path(folder.empty() ? "." : folder) / "VESTRALUME" / ".import").string();
}

FolderLock lockImports(const std::string& folder) {
    const fs::path root = fs::path(folder.empty() ? "." : folder) / "VESTRALUME";
    std::error_code code;
    if (!fs::is_directory(root, code)) return folderUnavailable;
    const std::string lock = importLockFolder(folder);
    // A root from before imports could run beside the viewer has no such
    // folder: the first import (or upgrade) makes it.
    if (!fs::is_directory(fs::symlink_status(lock, code))) fs::create_directory(lock, code);
    return lockFolder(lock);
}

void unlockImports(const std::string& folder) { unlockFolder(importLockFolder(folder)); }
