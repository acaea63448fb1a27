// One card in the card cache, checked before it is used. The cache is a
// folder of plain files that anything running as the user may change, and a
// card copied from it goes straight onto the wall, so an entry is taken only
// when it is a regular file (never a link, which could lead to any picture
// on the disk, nor a FIFO or a device, which could block or never end), of a
// card's size at most, a whole JPEG, and exactly the bytes whose digest the
// entry keeps beside it ("<key>.sum"). Anything else is made again.
#pragma once

#include <string>

enum CachedCardState {
    cachedCardGood,        // the card, as it was put into the cache
    cachedCardAbsent,      // no entry of that name
    cachedCardUnverified,  // a card without a digest beside it (made before
                           // the cache kept digests): made again once, quietly
    cachedCardDamaged,     // a link, a FIFO, a device, a folder, too large, not
                           // a whole JPEG, or bytes that do not match its digest
};

struct CachedCard {
    CachedCardState state = cachedCardAbsent;
    std::string bytes;    // the card's JPEG when good
    std::string problem;  // what is wrong with a damaged entry, in plain words
};

// The largest card the cache holds; a card is a few tens of KiB.
constexpr size_t maxCachedCardBytes = 1u << 20;

// The digest file kept beside the cached card `cardPath` ("<key>.jpg").
std::string cachedCardDigestPath(const std::string& cardPath);

// Reads and checks the cached card `cardPath` and its digest.
CachedCard readCachedCard(const std::string& cardPath);

// Puts `card` into the cache as `cardPath`: the card first, its digest
// after, so a card is never seen with a digest of other bytes except while
// it is being replaced (and then it is only made again). False when either
// cannot be written.
bool keepCachedCard(const std::string& cardPath, const std::string& card);

// Reads the regular file `path` of at most `limit` bytes without following a
// link in its last component and without blocking; false (and `bytes`
// empty) otherwise. `problem` says why, or is empty when there is no file.
bool readCacheFile(const std::string& path, size_t limit, std::string& bytes, std::string& problem);

// When the cached card `cardPath` or its digest last changed (written,
// renamed over, touched), in nanoseconds since the epoch, read without
// following links: 0 when neither is there, -1 when either is there as
// something other than a regular file (a link, a FIFO...). An import record
// keeps the newest of these, so an entry replaced after it is noticed.
long long cachedCardChangeTime(const std::string& cardPath);
