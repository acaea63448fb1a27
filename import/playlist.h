// Reading a channel playlist (M3U / M3U8, extended with #EXTINF lines) as it
// is found in the wild: bytes in, entries and line-numbered problems out.
// Nothing here touches a file, the network or the data root, so the importer,
// its tests and the fuzz target drive it alike.
//
// The reader streams: feed it the playlist in chunks of any size (a file read
// piece by piece, or a download as it arrives) and it hands each entry on as
// soon as its address line is complete; only the current line is held.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// One channel of a playlist.
struct PlaylistEntry {
    std::string name;     // UTF-8, one line, never empty
    std::string address;  // a media address isSafeMediaAddress accepts
    std::string logo;     // the tvg-logo attribute as given (trimmed); may be empty
    std::string group;    // group-title, else #EXTGRP; UTF-8, may be empty
    std::string tvgId;    // tvg-id: the channel's id in a programme guide; may be empty
    std::string tvgShift; // tvg-shift: hours its guide's times are moved by; may be empty
    size_t line = 0;      // the line of the address
};

// Something the reader could not take as it stood.
struct PlaylistProblem {
    size_t line = 0;
    bool entrySkipped = false;  // an entry was left out; otherwise a repair note
    std::string reason;         // plain words, UTF-8, one line
};

// Receives what the reader finds; either may be empty.
struct PlaylistSinks {
    std::function<void(PlaylistEntry&)> entry;
    std::function<void(const PlaylistProblem&)> problem;
    // Each programme guide address of the #EXTM3U line (url-tvg, x-tvg-url;
    // comma-separated lists split), in order.
    std::function<void(const std::string&)> guide;
    // Whether the receiver wants no more: reading a source then stops early
    // (readPlaylistSource). May be empty.
    std::function<bool()> full;
};

// Guide addresses taken from one #EXTM3U line; the rest are passed over.
constexpr size_t maxGuideAddresses = 32;

// The longest line the reader keeps, in bytes; the rest of a longer line is
// dropped (and reported). No address or name comes near it.
constexpr size_t maxPlaylistLine = 1 << 20;

// The longest channel name kept, in bytes (cut at a character boundary).
constexpr size_t maxChannelName = 256;

// The reader's state between chunks: a plain record, start with a fresh one.
struct PlaylistReader {
    std::string line;         // the line read so far (at most maxPlaylistLine bytes)
    size_t lineNumber = 1;    // the number of the line being read
    size_t droppedBytes = 0;  // bytes of the current line past maxPlaylistLine
    bool afterCarriageReturn = false;  // the last byte seen was a CR ending a line
    bool atStart = true;      // no byte seen yet (a byte order mark may come)
    // The #EXTINF waiting for its address.
    bool haveInfo = false;
    size_t infoLine = 0;
    std::string infoName, infoTvgName, infoLogo, infoGroup, infoTvgId, infoTvgShift;
    std::string pendingGroup;  // from #EXTGRP, for the next entry
    size_t entries = 0;        // entries handed on so far
    size_t guides = 0;         // guide addresses handed on so far
};

// Reads `size` bytes of the playlist.
void readPlaylistChunk(PlaylistReader& reader, const char* data, size_t size,
                       const PlaylistSinks& sinks);

// Ends the playlist: reads a last line without a line end and reports an
// #EXTINF still waiting for its address.
void finishPlaylist(PlaylistReader& reader, const PlaylistSinks& sinks);

// Reads a whole playlist held in memory.
void readPlaylist(const std::string& bytes, const PlaylistSinks& sinks);

// Text as valid UTF-8: every byte sequence that is not well-formed UTF-8 is
// replaced by U+FFFD. Sets `repaired` when anything was replaced.
std::string repairUtf8(const std::string& text, bool& repaired);

// Whether `text` is well-formed UTF-8.
bool isValidUtf8(const std::string& text);

// The host of an address ("scheme://[user@]host[:port]/..."), without
// brackets around an IPv6 address; empty when there is none.
std::string addressHost(const std::string& address);
