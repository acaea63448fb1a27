// Whole files read into memory, for the asset loaders.
#pragma once

#include <string>

// Reads every byte of the file into `bytes`. False when the file cannot be
// opened or a read fails (a folder, an unreadable file); `bytes` is then empty.
bool readFileBytes(const std::string& path, std::string& bytes);
