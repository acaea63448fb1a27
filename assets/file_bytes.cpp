#include "assets/file_bytes.h"

#include <cstdio>
#include <new>

bool readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char block[65536];
    size_t got = 0;
    bool failed = false;
    try {
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    } catch (const std::bad_alloc&) {
        failed = true;  // a file larger than the memory left: as unreadable
    }
    failed = failed || std::ferror(file) != 0;
    std::fclose(file);
    if (failed) std::string().swap(bytes);
    return !failed;
}
