// One tile per channel: playlist entries that name the same channel (the
// same tvg-id, or, without one, the same name in the same group once
// qualities and punctuation are left out) become one channel whose
// addresses are tried in playlist order.
#pragma once

#include <string>
#include <vector>

#include "import/playlist.h"

// A channel name as entries are matched by: lower-case ASCII letters and
// digits (other bytes, other scripts, kept as they are) in words separated
// by one space, with the words of quality and resolution left out ("hd",
// "fhd", "uhd", "sd", "4k", "720p", "1080p", ...) and anything in brackets.
// "Film Channel HD", "film-channel (backup)" and "FILM CHANNEL" are one name.
std::string duplicateMatchName(const std::string& name);

// What names a channel: "id " and its tvg-id (ASCII case ignored), else
// "name " with the group, a tab and the normalised name. Entries with equal
// keys are one channel.
std::string channelKey(const PlaylistEntry& entry);

// The playlist with every channel once, at the place of its first entry.
// alternatives[i] holds the addresses of the later entries of channel i, in
// playlist order, each address once and never the channel's own; `merged`
// counts the entries that went into an earlier one.
struct MergedPlaylist {
    std::vector<PlaylistEntry> channels;
    std::vector<std::vector<std::string>> alternatives;
    size_t merged = 0;
};
MergedPlaylist mergeDuplicates(std::vector<PlaylistEntry> entries);
