// What quillon-import remembers of the last import, so that --refresh (and
// the automatic refresh beside the wall) can import the same again:
// VESTRALUME/sources.tsv, written by the importer only, after an import that
// switched its catalogue in. A root that never imports has none.
//
//   quillon-sources 1
//   imported<TAB><seconds since 1970 of the import>
//   every<TAB><seconds between automatic refreshes>
//   keep-duplicates                          (when it was given)
//   group<TAB><NAME>                         (one per --group)
//   source<TAB><file or address><TAB><validator><TAB><validator>
//
// A source is an absolute file name or an http(s) address, in the order
// given. Its validators tell whether it changed since: for an address the
// ETag and the Last-Modified date the server sent (either may be empty),
// for a file its modification time and size.
#pragma once

#include <string>
#include <vector>

// "VESTRALUME/sources.tsv"
extern const std::string sourcesFile;

// The interval of the automatic refresh when none was chosen: a day.
constexpr long long defaultRefreshSeconds = 24 * 3600;

struct RememberedSource {
    std::string where;  // an absolute file name or an http(s) address
    std::string validator, secondValidator;  // ETag and Last-Modified, or a file's time and size
};

struct RememberedSources {
    std::vector<RememberedSource> sources;
    std::vector<std::string> groups;
    bool keepDuplicates = false;
    long long importedAt = 0;
    long long refreshSeconds = defaultRefreshSeconds;
};

std::string formatSources(const RememberedSources& sources);

// False, with the reason, for text that is not a sources file as above (an
// unknown line, a field with a control character, no source).
bool parseSources(const std::string& text, RememberedSources& sources, std::string& problem);

// The sources file of the root under `folder`: false with the reason when it
// is missing (`missing` set) or cannot be read or parsed.
bool readSources(const std::string& folder, RememberedSources& sources, bool& missing,
                 std::string& problem);

// Whether an automatic refresh is due at `now` (seconds since 1970): the last
// import is `refreshSeconds` or more ago (or lies in the future: a clock
// set back).
bool refreshDue(const RememberedSources& sources, long long now);

// A text fit for a field of the file: no tab, line end or other control
// character (those are left out), at most 1024 bytes.
std::string sourceField(const std::string& text);
