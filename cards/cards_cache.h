// The card maker's files: digests that name cached logos and cards, reading
// a file with a size limit, and replacing a file so that readers see the old
// bytes or the new ones, never a part.
#pragma once

#include <cstddef>
#include <string>

#include "cards/cards.h"

// Raises whenever what a card looks like changes (layout, colours, type,
// encoding): cards made before are then drawn again instead of copied from
// the cache.
constexpr int cardDesignVersion = 1;

// Logo files above this size are refused: no logo needs more, and a server
// may send anything.
constexpr size_t maxLogoBytes = 5u << 20;

// The SHA-256 digest of `bytes` in lower-case hex.
std::string digestOf(const std::string& bytes);

// The SHA-256 digest of many pieces fed one after another, as digestOf gives
// it for all of them put together, without putting them together.
class DigestStream {
public:
    DigestStream();
    ~DigestStream();
    DigestStream(const DigestStream&) = delete;
    DigestStream& operator=(const DigestStream&) = delete;
    void add(const void* data, size_t size);
    void add(const std::string& text) { add(text.data(), text.size()); }
    // The digest in lower-case hex; the stream is used up.
    std::string finish();

private:
    void* checksum_;
};

// Everything the card for `request` with the logo whose bytes have the digest
// `logoDigest` (empty: a name card) depends on, the output path aside, in
// text: two cards are the same exactly when their descriptions are.
std::string cardDescription(const CardRequest& request, const std::string& logoDigest);

// The name of the cached card for `request` and `logoDigest`: the digest of
// its description.
std::string cardCacheKey(const CardRequest& request, const std::string& logoDigest);

// Reads a regular file of at most `maxBytes` (never a device or a pipe, which
// could block or never end). On failure returns false with the reason.
bool readLimitedFile(const std::string& path, size_t maxBytes, std::string& bytes,
                     std::string& problem);

// Puts `bytes` into `path` through a temporary file beside it and a rename.
// A file that already holds exactly these bytes is left untouched.
bool replaceFile(const std::string& path, const std::string& bytes, std::string& problem);

// Removes the temporary files of replaceFile ("<name>.tmp-<process id>-<n>")
// in `folder` whose process no longer runs: what a killed run left behind.
// Returns how many it removed.
int removeEndedTemporaries(const std::string& folder);

// Gives a cached file the time of now: the cache's clean-up removes files
// not used for a long time.
void markUsed(const std::string& path);

// Seconds since the epoch.
long long secondsNow();
