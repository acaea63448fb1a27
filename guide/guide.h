// Programme guides (XMLTV): what is on now and next on each channel.
//
// A guide is read streaming with libxml2's text reader from a plain, gzipped
// or xz-compressed file, never held whole: channels and programmes are handed
// on as they are read, with line-numbered problems. The reader refuses what
// would make it reach outside (external entities, DTDs from a file or the
// network) or grow without bound (entity declarations, titles over their cap,
// more decompressed bytes than a guide has).
//
// Nothing here touches the data root; the index (guide_index.h) keeps what
// was read, and guide_fetch.h gets guides from their servers.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

struct GuideChannel {
    std::string id;                  // the channel's id attribute
    std::vector<std::string> names;  // its display-name elements, UTF-8
};

struct GuideProgramme {
    std::string channel;  // the channel attribute
    long long start = 0;  // seconds since the epoch (UTC)
    long long stop = 0;   // seconds since the epoch; 0 when the guide gave none
    std::string title;    // UTF-8, one line, at most maxGuideTitle bytes
};

struct GuideProblem {
    size_t line = 0;     // 0: not tied to a line
    std::string reason;  // plain words, one line
};

// Receives what the reader finds; any may be empty.
struct GuideSinks {
    std::function<void(const GuideChannel&)> channel;
    std::function<void(const GuideProgramme&)> programme;
    std::function<void(const GuideProblem&)> problem;
};

// Longest title, display name and channel id kept, in bytes (cut at a
// character boundary, with an ellipsis). No card shows more.
constexpr size_t maxGuideTitle = 300;

struct GuideLimits {
    // Bytes of XML read after decompression: merged guides of 450 MB fit;
    // a small file inflating to more is a bomb.
    unsigned long long maxXmlBytes = 1ull << 30;
    // Channels and programmes handed on; the rest is passed over, reported once.
    size_t maxChannels = 200000;
    unsigned long long maxProgrammes = 20000000;
    // Programmes that end by keepFrom or start at keepUntil or later (seconds
    // since the epoch) are counted but not handed on, their titles not read.
    long long keepFrom = std::numeric_limits<long long>::min();
    long long keepUntil = std::numeric_limits<long long>::max();
};

struct GuideReadResult {
    bool complete = false;  // read to its end without an error that stopped it
    std::string error;      // why the reading stopped, in plain words
    size_t errorLine = 0;
    size_t channels = 0;
    unsigned long long programmes = 0;  // read, whether handed on or not
    unsigned long long xmlBytes = 0;  // decompressed bytes read
};

// Reads the guide in the file at `path` (plain XML, gzip or xz, told from its
// first bytes) through `sinks`. Never throws; everything read up to an error
// has gone through the sinks.
GuideReadResult readGuideFile(const std::string& path, const GuideSinks& sinks,
                              const GuideLimits& limits = GuideLimits());

// An XMLTV time, "YYYYMMDDhhmmss +hhmm" (seconds, minutes and the offset may
// be left out; no offset is UTC), as seconds since the epoch.
std::optional<long long> parseGuideTime(const std::string& text);

// A channel's name as guides and playlists are matched on: letters and
// digits only (ASCII folded to lower case, other characters kept), a last
// word "HD", "FHD" or "UHD" left out.
std::string normalisedChannelName(const std::string& name);

// A tvg-shift value ("+2", "-1.5", "0") as seconds; 0 when it is not a number
// of hours between -24 and 24.
long long guideShiftSeconds(const std::string& text);
