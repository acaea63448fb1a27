// The card maker's files: digests that name cached logos and cards, reading
// a file with a size limit, and replacing a file so that readers see the old
// bytes or the new ones, never a part.
#pragma once

#include <cstddef>
#include <string>

#include "catalogue/cards.h"

// Raises whenever what a card looks like changes (layout, colours, type,
// encoding): cards made before are then drawn again instead of copied from
// the cache.
constexpr int cardDesignVersion = 1;

// Logo files above this size are refused: no logo needs more, and a server
// may send anything.
constexpr size_t maxLogoBytes = 5u << 20;

// The SHA-256 digest of `bytes` in lower-case hex.
std::string digestOf(const std::string& bytes);

// The name of the cached card for `request` with the logo whose bytes have the
// digest `logoDigest` (empty: a name card): changes whenever anything the
// card shows changes, the output path aside.
std::string cardCacheKey(const CardSpec& request, const std::string& logoDigest);

// Reads a regular file of at most `maxBytes` (never a device or a pipe, which
// could block or never end). On failure returns false with the reason.
bool readLimitedFile(const std::string& path, size_t maxBytes, std::string& bytes,
                     std::string& problem);

// Puts `bytes` into `path` through a temporary file beside it and a rename.
// A file that already holds exactly these bytes is left untouched.
bool replaceFile(const std::string& path, const std::string& bytes, std::string& problem);

// Gives a cached file the time of now: the cache's clean-up removes files
// not used for a long time.
void markUsed(const std::string& path);

// Seconds since the epoch.
long long secondsNow();
