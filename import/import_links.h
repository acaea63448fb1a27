// The link numbers of an import, and the URL directory that holds them.
//
// The directory stays bounded: an import keeps the media entries that the
// catalogue in place, the new catalogue or a favourite still names, and
// drops the rest (web pages, comments and anything it cannot read stay as
// they are). An address the directory holds keeps its number. A provider
// that changes a token in its addresses on every download gives addresses
// that differ only in the query: one with the same address before the '?'
// and the same channel name as an entry in use keeps that entry's number and
// takes its place, so a favourite follows the token. Numbers are never given
// twice: the highest number the directory holds always stays.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/playlist.h"

// A link file in use: its link number and the channel's name.
struct LinkUse {
    int link = 0;
    std::string name;
};

struct LinkPlan {
    std::vector<int> links;    // the link number of each entry, in order
    std::string directory;     // the directory's new text
    bool changed = false;      // it differs from the text it was made from
    size_t newLinks = 0;       // addresses that took a new number
    size_t knownLinks = 0;     // distinct addresses that kept a number
    int firstNewLink = 0, lastNewLink = 0;
    std::string error;         // why the import cannot go on, or empty
};

// Plans the link numbers of `entries` against the directory text
// `directory`. `inUse` are the link files of the catalogue in place and of
// the favourites. New numbers start above every number the directory holds
// and above `lowestNewLink - 1`. The new directory is refused (error) when
// the viewer would refuse it: larger than tableFileLimit, or out of link
// numbers.
LinkPlan planLinks(const std::string& directory, const std::vector<PlaylistEntry>& entries,
                   const std::vector<LinkUse>& inUse, int lowestNewLink);

// A link file's text ("<link number>\n<name>\n") as a LinkUse; link 0 when
// it holds no number.
LinkUse parseLinkFile(const std::string& text);
