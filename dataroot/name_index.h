// Finding channels by name: the names of a list folded to plain lower-case
// ASCII words, the index file the importer writes beside an imported
// catalogue, and the matching and ranking of a typed query. Plain C++ for
// the viewer and the tools; no ICU here (the importer's transliteration is
// in import/import_names.h), no files but the index, no OpenGL.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The searchable names of one channel. `names` holds one or more spellings
// of the channel's name (the name as written, its transliterations), each
// folded (foldName) and separated by '|'; `group` the same for its group.
struct NameEntry {
    int channel = 0;
    std::string names;
    std::string group;
};

// "VESTRALUME/1/names.idx": the names of an imported catalogue, written
// with the catalogue's other files and switched into place with them.
extern const std::string nameIndexFile;

// The index's first line, before the channel count.
extern const std::string nameIndexHeader;  // "quillon-names 1"

// `text` (UTF-8) as lower-case ASCII words separated by single spaces:
// letters A-Z and digits are kept, Latin letters with accents lose them
// (and a few letters become two: "ß" "ss", "æ" "ae", "œ" "oe"), everything
// else (punctuation, other scripts, bytes that are not UTF-8) separates
// words. Never longer than `text` plus one byte per character.
std::string foldName(const std::string& text);

// Every word of a folded text with its separators removed: "cctv 1" gives
// "cctv1". Empty when the text has only one word.
std::string joinedWords(const std::string& folded);

// The searchable entry of a name whose spellings are already folded: the
// distinct non-empty ones joined by '|'.
std::string joinSpellings(const std::vector<std::string>& spellings);

// The text of an index file: the header line with the count, then one line
// "<channel>\t<names>\t<group>" per entry.
std::string nameIndexText(const std::vector<NameEntry>& entries);

// The entries of an index file's text, when it is well formed and holds
// `count` entries for the channels 1 to `count` in order; none otherwise (a
// damaged or stale index is read as no index at all).
std::optional<std::vector<NameEntry>> parseNameIndex(const std::string& text, int count);

// The index of the catalogue under `folder` (the folder holding VESTRALUME/;
// empty for the working directory), read as dataroot/safe_file.h reads a
// table file, for a catalogue of `count` channels; none when it is missing,
// unreadable, damaged or made for another catalogue.
std::optional<std::vector<NameEntry>> readNameIndex(const std::string& folder, int count);

// The names of channels 1 to `count` of `list` as their link files hold
// them (the second line, "<link number>\n<name>\n"), folded without any
// transliteration: what a list without an index is searched by. A link
// file that is missing, unreadable or has no name gives an entry with no
// names, found by its number only.
std::vector<NameEntry> namesFromLinkFiles(int list, int count);

// The longest query kept, in characters.
constexpr size_t maxQueryLength = 64;

// The entries that match `query`, best first, as positions in `entries`.
// The query is folded; each of its words must be found in the channel's
// names or its group. Ranked: the channel whose number the whole query is;
// then names that begin with the whole query; then channels whose every word
// starts a word of a name, then those found inside a name's words, then
// those found only in the group; equal ranks in list order. An empty query
// matches nothing. `candidates` (positions, any order), when given, limits
// the search to them: the matches of a query this one extends (see
// narrowsSearch), with the channel a number names looked up besides.
std::vector<int> findMatches(const std::vector<NameEntry>& entries, const std::string& query,
                             const std::vector<int>* candidates = nullptr);

// Whether every match of `query` is a match of `previous`, so the search
// for `query` may look at the previous matches only (the number rank aside).
bool narrowsSearch(const std::string& previous, const std::string& query);
