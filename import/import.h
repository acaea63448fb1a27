// Importing a playlist as the catalogue (list 1) of a data root.
//
// The new catalogue is prepared beside the old one, in VESTRALUME/.1.new,
// and switched into place with one exchange of the two folders; the URL
// directory only grows (a new address takes the next free link number, an
// address already in it keeps its own). Favourites, selection, wall scale and
// counters stay as they are; the catalogue's page is brought inside the new
// catalogue. Killed at any moment, out of disk space or given nothing to
// import, the previous catalogue stays complete and working.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "import/playlist.h"

// What the importer has done so far, for a progress display.
struct ImportProgress {
    enum Stage { reading, makingCards, switching } stage = reading;
    size_t entriesRead = 0;
    CardProgress cards;
};

struct ImportOptions {
    CardOptions cards;
    // Switch the catalogue in as soon as its link files are written, with
    // the cards of the page it shows made from what the caches hold; the
    // rest are left pending for the background card maker
    // (import/import_cards.h). Otherwise every card is made first.
    bool cardsLater = false;
    std::function<void(const ImportProgress&)> progress;  // may be empty
    // Per entry (empty, or as many as the entries): the channel's other
    // addresses, tried in this order when its own fails (import/
    // import_dedupe.h). They take link numbers as the entries' own do, and
    // the catalogue keeps them in VESTRALUME/1/alternatives.tsv.
    std::vector<std::vector<std::string>> alternatives;
};

struct ImportResult {
    bool switchedIn = false;  // the catalogue now holds the playlist
    bool unchanged = false;   // it held exactly this already: nothing was written
    size_t channels = 0;
    size_t newLinks = 0;      // addresses that took a new link number
    size_t knownLinks = 0;    // distinct addresses that kept the number they had
    int firstNewLink = 0, lastNewLink = 0;
    CardProgress cards;       // what the card maker did
    size_t pendingCards = 0;  // cards left to the background card maker (cardsLater)
    std::string error;        // why nothing was switched in, in plain words
    std::vector<std::string> warnings;  // things after the switch that did not work
};

// Replaces the catalogue of the data root <folder>/VESTRALUME with
// `entries`, in playlist order (channel 1 is entries[0]). Takes the import
// lock (lockDataRoot) for its whole run and refuses when another import or
// an upgrade holds it; a running viewer follows the switch.
ImportResult importCatalogue(const std::string& folder, const std::vector<PlaylistEntry>& entries,
                             const ImportOptions& options);

// Removes the catalogues that imports switched out and left aside
// (VESTRALUME/.1.gone.*); nothing reads them, so this is safe at any time.
void removeReplacedCatalogues(const std::string& folder);

// Takes the import lock of <folder>/VESTRALUME (state/root_locks.h: a
// running viewer does not keep an import out, another import or an upgrade
// does) for the rest of the process; on
// failure returns false with the reason in plain words.
bool lockDataRoot(const std::string& folder, std::string& error);

// Where a playlist comes from: a file, "-" for standard input, or an http(s)
// address.
bool isPlaylistAddress(const std::string& source);

// Reads the playlist `source` through `sinks`, streaming (a download is read
// as it arrives). `chunkRead` (may be empty) is called after each chunk.
// On failure (missing file, network error, over the size limit) returns false
// with the reason in plain words; what was read up to then has gone through
// the sinks. Reading stops early, and succeeds, once `sinks.full` says so.
bool readPlaylistSource(const std::string& source, const PlaylistSinks& sinks,
                        const std::function<void()>& chunkRead, std::string& error);

// The largest playlist read, in bytes.
constexpr size_t maxPlaylistBytes = size_t(1) << 30;

// Whether an entry belongs to one of `groups` (compared without regard to
// ASCII case); every entry does when `groups` is empty.
bool entryInGroups(const PlaylistEntry& entry, const std::vector<std::string>& groups);

// The user's own data root folder, the one the installed launcher uses:
// ${XDG_DATA_HOME:-~/.local/share}/quillon (a relative XDG_DATA_HOME is
// ignored). Empty, with the reason in `error`, when neither is set.
std::string userDataFolder(std::string& error);

// Makes <folder>/VESTRALUME from `templateRoot` when it does not exist yet,
// with the launchers' own maker (platform/user_root.h): copied into a hidden
// folder beside it and renamed into place only when complete. True when the
// root exists after; otherwise `error` says why.
bool makeRootFromTemplate(const std::string& folder, const std::string& templateRoot,
                          std::string& error);
