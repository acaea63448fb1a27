// Collecting a playlist's entries within the catalogue's limits, checked as
// each entry arrives: a playlist that streams entries without end stops
// being read once the channel limit or the memory cap is reached, instead of
// being stored whole before it is judged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/playlist.h"

// The most memory the entries of one playlist may take, in bytes (their
// texts and records): far above any real list (a 100,000-channel list takes
// about 40 MiB), and low enough that an import stays well under 300 MiB.
constexpr std::size_t maxPlaylistEntryBytes = std::size_t(160) << 20;

struct EntryCollector {
    std::vector<std::string> groups;    // only these groups; all when empty
    std::vector<PlaylistEntry> entries;  // the entries kept, in order
    std::size_t textBytes = 0;           // the memory their texts take
    std::size_t bytes = 0;               // with their records, as counted
    std::size_t otherGroups = 0;         // entries of other groups
    bool full = false;                   // a limit was reached: refuse the playlist
};

// Keeps `entry` when it is in the collector's groups, unless a limit is
// reached (the channel limit maxChannelCount or maxPlaylistEntryBytes); from
// then on `full` is set and nothing more is kept.
void collectEntry(EntryCollector& collector, PlaylistEntry& entry);

// Why a full collector's playlist is refused, in plain words.
std::string describeFullPlaylist(const EntryCollector& collector);
