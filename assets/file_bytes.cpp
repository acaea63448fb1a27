#include "assets/file_bytes.h"

#include <cstdio>

bool readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) bytes.clear();
    return !failed;
}
