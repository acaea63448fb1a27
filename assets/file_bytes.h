// Whole files read into memory, for the asset loaders.
#pragma once

#include <cstddef>
#include <string>

#include "dataroot/safe_file.h"

// Reads every byte of an image or model file into `bytes`, as
// dataroot/safe_file.h says: the path must be a data-root path
// ("VESTRALUME/...", which never leads out of the root; anything else is
// fileOutside), the file a regular file of at most `limit` bytes, opened
// without blocking. On any other outcome `bytes` is empty.
FileOutcome readAssetFile(const std::string& path, std::size_t limit, std::string& bytes);

// Says on standard error why an asset that is there could not be read (a
// special file, too large, leading outside); a missing one is left to the
// caller's own message.
void reportUnreadableAsset(const std::string& path, FileOutcome outcome, std::size_t limit);
