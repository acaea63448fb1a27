#include "import/import.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "dataroot/alternatives_file.h"
#include "dataroot/data_root.h"
#include "cards/cards_cache.h"
#include "import/import_cards.h"
#include "import/import_links.h"
#include "import/import_names.h"
#include "import/import_record.h"
#include "import/import_root_files.h"
#include "dataroot/name_index.h"
#include "dataroot/pending_cards.h"
#include "dataroot/sources_file.h"
#include "dataroot/url_directory_file.h"
#include "platform/folder_exchange.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"
#include "platform/temporary_files.h"
#include "state/root_locks.h"
#include "state/state_files.h"

namespace fs = std::filesystem;

namespace {

// Inside VESTRALUME/: where the new catalogue is prepared, and where the old
// one waits for removal when the system cannot exchange two folders.
const std::string stagingName = ".1.new";
const std::string retiredName = ".1.old";
// Where an import whose cards come later leaves the catalogue it replaced,
// for the background card maker to remove (see removeReplacedCatalogues).
const std::string replacedPrefix = ".1.gone.";

std::string lastSystemError() { return std::strerror(errno); }

// The data root's paths for one import.
struct RootPaths {
    std::string folder;   // holds VESTRALUME/
    fs::path root;        // <folder>/VESTRALUME
    fs::path catalogue;   // <folder>/VESTRALUME/1
    fs::path staging;     // <folder>/VESTRALUME/.1.new
    fs::path retired;     // <folder>/VESTRALUME/.1.old

    // A path of the data root as the catalogue names it ("VESTRALUME/...").
    std::string at(const std::string& rootRelative) const { return (fs::path(folder) / rootRelative).string(); }
};

RootPaths pathsFor(const std::string& folder) {
    RootPaths paths;
    paths.folder = folder.empty() ? "." : folder;
    paths.root = fs::path(paths.folder) / dataRoot.substr(0, dataRoot.size() - 1);
    paths.catalogue = paths.root / "1";
    paths.staging = paths.root / stagingName;
    paths.retired = paths.root / retiredName;
    return paths;
}

// The state files an import writes: the catalogue's page and its tile paths.
bool isCatalogueStateFile(const std::string& name) {
    if (name == fs::path(pageFile(1)).filename().string()) return true;
    for (int tile = 1; tile <= wallTiles; ++tile)
        if (name == fs::path(tilePathFile(1, tile)).filename().string()) return true;
    return false;
}

// The remembered playlists (VESTRALUME/sources.tsv), written by the importer
// after its catalogue: a run killed at that moment leaves its temporary file.
bool isRememberedSourcesFile(const std::string& name) {
    return name == fs::path(sourcesFile).filename().string();
}

// Puts back a catalogue an import had moved aside when it was killed between
// moving it away and moving the new one in (only where folders cannot be
// exchanged), and removes what earlier imports left half made.
void cleanUpAfterEarlierImports(const RootPaths& paths) {
    std::error_code code;
    if (!fs::exists(fs::symlink_status(paths.catalogue, code)) && fs::is_directory(paths.retired, code))
        fs::rename(paths.retired, paths.catalogue, code);
    // A staging folder left behind may be a catalogue switched out by a
    // killed import, that a card maker still writes into until it notices:
    // it is moved out of the way first, so the new staging starts empty.
    if (fs::exists(fs::symlink_status(paths.staging, code))) {
        const fs::path aside = paths.root / (replacedPrefix + std::to_string(getpid()) + ".staging");
        fs::remove_all(aside, code);
        fs::rename(paths.staging, aside, code);
        fs::remove_all(aside, code);
    }
    fs::remove_all(paths.staging, code);
    fs::remove_all(paths.retired, code);
    // Temporary files of replacements of the URL directory that a killed
    // run left behind, named as replaceFileContents names them
    // (".<name>.<process id>.tmp"); with the import lock held nobody else
    // writes it.
    auto isStaleTemporary = [](const std::string& name, const std::string& base) {
        const std::string start = "." + base + ".";
        if (name.compare(0, start.size(), start) != 0 || name.size() < start.size() + 5 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            return false;
        const std::string pid = name.substr(start.size(), name.size() - 4 - start.size());
        return std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    std::vector<fs::path> stale;
    for (fs::directory_iterator entry(paths.root, code), end; !code && entry != end; entry.increment(code))
        if (isStaleTemporary(entry->path().filename().string(), fs::path(urlDirectoryFile).filename().string()))
            stale.push_back(entry->path());
    for (const fs::path& file : stale) fs::remove(file, code);
    // The state folder is shared with a viewer that may run now: only the
    // temporary files of processes that ended go.
    removeStaleTemporaryFiles((paths.root / "n").string(), isCatalogueStateFile);
    removeStaleTemporaryFiles(paths.root.string(), isRememberedSourcesFile);
}

// ---- Files ---------------------------------------------------------------

bool writeWholeFile(const fs::path& path, const std::string& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write " + path.string() + ": " + lastSystemError();
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        if (!written) errno = writeErrno;
        error = "cannot write " + path.string() + ": " + lastSystemError();
        return false;
    }
    return true;
}

// The bytes of a file of the data root `paths` (import/import_root_files.h),
// at most `limit` of them; false when it cannot be read to its end.
bool readWholeFile(const RootPaths& paths, const fs::path& path, std::size_t limit, std::string& bytes) {
    return readImportRootFile(paths.root.string(), path.string(), limit, bytes) == fileRead;
}

std::string readWholeFile(const RootPaths& paths, const fs::path& path, std::size_t limit) {
    std::string bytes;
    readWholeFile(paths, path, limit, bytes);
    return bytes;
}

// Writes a state file only when it does not hold `text` already.
bool writeStateIfChanged(const RootPaths& paths, const std::string& path, const std::string& text) {
    std::string now;
    if (readWholeFile(paths, path, stateFileLimit, now) && now == text) return true;
    return writeText(path, text);
}

// ---- The URL directory ---------------------------------------------------

struct Directory {
    std::string text;  // the file as it is; the link plan reads it (import/import_links.h)
};

bool readDirectory(const RootPaths& paths, const std::string& path, Directory& directory, std::string& error) {
    // The directory is rewritten from what is read here: a read that fails
    // half way must stop the import, not shorten the directory.
    const FileOutcome outcome = readImportRootFile(paths.root.string(), path, tableFileLimit, directory.text);
    if (outcome != fileRead && outcome != fileMissing) {
        error = "cannot read the URL directory " + path + ": it " + describeFileOutcome(outcome, tableFileLimit);
        return false;
    }
    return true;
}

// ---- The page of the catalogue -------------------------------------------

// The page the catalogue shows, brought inside a catalogue of `count`
// channels: a page whose first number lies past the last first number (or
// below 1) moves to the nearest page inside; any other page stays as it is.
std::vector<int> pageInside(const std::optional<std::vector<int>>& page, int count) {
    const int last = lastFirstChannelFor(count);
    if (page && (*page)[0] >= 1 && (*page)[0] <= last) return *page;
    const int first = page && (*page)[0] > last ? last : 1;
    std::vector<int> inside(wallTiles);
    for (int tile = 0; tile < wallTiles; ++tile) inside[tile] = first + tile;
    return inside;
}

// Writes the tile path files of the catalogue's page: a tile shows its
// channel's thumbnail when the channel is one of the first `shown` channels,
// otherwise its placeholder.
bool writeTilePaths(const RootPaths& paths, const std::vector<int>& page, int shown) {
    bool written = true;
    for (int tile = 1; tile <= wallTiles; ++tile) {
        const int channel = page[tile - 1];
        const std::string image = channel >= 1 && channel <= shown ? thumbnailPath(1, channel)
                                                                   : placeholderPath(tile);
        written = writeStateIfChanged(paths, paths.at(tilePathFile(1, tile)), image) && written;
    }
    return written;
}

void report(const ImportOptions& options, ImportProgress& progress, ImportProgress::Stage stage) {
    progress.stage = stage;
    if (options.progress) options.progress(progress);
}

std::string linkFileText(int link, const std::string& name) {
    return std::to_string(link) + "\n" + name + "\n";
}

std::string countFileName() { return fs::path(channelCountFile).filename().string(); }
std::string nameIndexFileName() { return fs::path(nameIndexFile).filename().string(); }
std::string alternativesFileName() { return fs::path(alternativesFile).filename().string(); }

// Whether the catalogue in place has exactly these alternatives (none: no
// file).
bool alternativesHold(const RootPaths& paths, const std::string& alternatives) {
    const fs::path file = paths.catalogue / alternativesFileName();
    std::error_code code;
    if (alternatives.empty()) return !fs::exists(fs::symlink_status(file, code));
    return readWholeFile(paths, file, tableFileLimit) == alternatives;
}

// The link numbers the catalogue in place names as alternatives: in use
// until another catalogue is switched in.
std::vector<int> alternativeLinksInPlace(const RootPaths& paths) {
    std::vector<int> links;
    std::string text, problem;
    std::vector<AlternativeLine> lines;
    if (!readWholeFile(paths, paths.catalogue / alternativesFileName(), tableFileLimit, text) ||
        !parseAlternatives(text, lines, problem))
        return links;
    for (const AlternativeLine& line : lines) links.insert(links.end(), line.links.begin(), line.links.end());
    return links;
}

// The cards of the new catalogue, made in the staging folder.
std::vector<CardRequest> catalogueCards(const RootPaths& paths, const std::vector<PlaylistEntry>& entries) {
    std::vector<CardRequest> cardRequests(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        cardRequests[i].name = entries[i].name;
        cardRequests[i].number = static_cast<int>(i + 1);
        cardRequests[i].logo = entries[i].logo;
        cardRequests[i].output = (paths.staging / (std::to_string(i + 1) + ".Quillon")).string();
    }
    return cardRequests;
}

// Makes the cards of the new catalogue in the staging folder.
bool makeCatalogueCards(const RootPaths& paths, const std::vector<CardRequest>& cardRequests,
                        const ImportOptions& options, ImportProgress& progress,
                        ImportResult& result) {
    std::error_code code;
    fs::create_directory(paths.staging, code);
    if (code) {
        result.error = "cannot create " + paths.staging.string() + ": " + code.message();
        return false;
    }
    progress.cards.total = cardRequests.size();
    report(options, progress, ImportProgress::makingCards);
    const std::vector<CardResult> cards =
        makeCards(cardRequests, options.cards, [&](const CardProgress& cardProgress) {
            progress.cards = cardProgress;
            report(options, progress, ImportProgress::makingCards);
        });
    result.cards = CardProgress();
    result.cards.total = cardRequests.size();
    for (size_t i = 0; i < cards.size() && i < cardRequests.size(); ++i) {
        const CardResult& card = cards[i];
        ++result.cards.done;
        if (card.remade) ++result.cards.made;
        if (card.logo == logoFetched) ++result.cards.fetched;
        if (card.logo == logoCached) ++result.cards.cached;
        if (card.logo == logoFailed) ++result.cards.failed;
        if (card.cacheDamaged) {
            ++result.cards.damaged;
            if (result.cards.damaged == 1) result.warnings.push_back(card.cacheProblem + "; the card was made again");
        }
        if (!card.written) {
            result.error = "cannot make the card of channel " + std::to_string(i + 1) +
                           (card.problem.empty() ? std::string() : ": " + card.problem);
            return false;
        }
    }
    if (cards.size() != cardRequests.size()) {
        result.error = "the card maker made " + std::to_string(cards.size()) + " cards of " +
                       std::to_string(cardRequests.size());
        return false;
    }
    return true;
}

// Keeps the import record of the catalogue now in place; the folder is
// looked up only when the cards can be told from the caches at all.
void recordCatalogue(const RootPaths& paths, const std::vector<CardRequest>& cardRequests,
                     const std::vector<int>& links, const CardOptions& options) {
    const std::string madeFrom = catalogueMadeFrom(cardRequests, links, options);
    const int channels = static_cast<int>(cardRequests.size());
    keepImportRecord(paths.root.string(), options, madeFrom,
                     madeFrom.empty() ? std::string()
                                      : catalogueFingerprint(paths.catalogue.string(), channels));
}

// Whether the catalogue in place holds exactly the new one: the cards just
// made in the staging folder, these link files and this count, and nothing
// else (but the index of its names). Read without writing anything, so an unchanged playlist costs no
// more than reading the catalogue once.
bool catalogueHolds(const RootPaths& paths, const std::vector<PlaylistEntry>& entries,
                    const std::vector<int>& links, const std::string& names, bool hasAlternatives) {
    std::error_code code;
    std::unordered_map<std::string, uintmax_t> sizes;
    for (fs::directory_iterator item(paths.catalogue, code), end; !code && item != end;
         item.increment(code))
        sizes.emplace(item->path().filename().string(), item->file_size(code));
    if (code || sizes.size() != 2 * entries.size() + 2 + (hasAlternatives ? 1 : 0)) return false;
    if (readWholeFile(paths, paths.catalogue / countFileName(), stateFileLimit) !=
        std::to_string(entries.size()) + "\n")
        return false;
    if (readWholeFile(paths, paths.catalogue / nameIndexFileName(), tableFileLimit) != names) return false;
    std::string bytes;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        const std::string text = linkFileText(links[i], entries[i].name);
        const auto linkSize = sizes.find(number + ".txt");
        if (linkSize == sizes.end() || linkSize->second != text.size() ||
            readWholeFile(paths, paths.catalogue / (number + ".txt"), stateFileLimit) != text)
            return false;
        const auto cardSize = sizes.find(number + ".Quillon");
        const fs::path card = paths.staging / (number + ".Quillon");
        if (cardSize == sizes.end() || cardSize->second != fs::file_size(card, code) ||
            !readWholeFile(paths, card, imageFileLimit, bytes) ||
            readWholeFile(paths, paths.catalogue / (number + ".Quillon"), imageFileLimit) != bytes)
            return false;
    }
    return true;
}

// Writes the link files, the channel count and the index of the names of
// the new catalogue beside its cards, and everything of it to the disk.
bool writeCatalogueText(const RootPaths& paths, const std::vector<PlaylistEntry>& entries,
                        const std::vector<int>& links, const std::string& names,
                        const std::string& alternatives, std::string& error) {
    // Writing the link files is most of an import's time once the cards come
    // later: a few system calls each, shared between threads, every file
    // through the open staging folder.
    const int folder = open(paths.staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        error = "cannot write in " + paths.staging.string() + ": " + lastSystemError();
        return false;
    }
    const size_t threadCount =
        std::min<size_t>(4, std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(),
                                                                 entries.size() / 2000)));
    std::vector<int> failures(threadCount, 0);
    std::vector<size_t> failedAt(threadCount, 0);
    auto writeSlice = [&](size_t part) {
        for (size_t i = part; i < entries.size() && failures[part] == 0; i += threadCount) {
            const std::string name = std::to_string(i + 1) + ".txt";
            const std::string text = linkFileText(links[i], entries[i].name);
            const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            bool written = file >= 0;
            for (size_t put = 0; written && put < text.size();) {
                const ssize_t n = write(file, text.data() + put, text.size() - put);
                if (n < 0 && errno == EINTR) continue;
                written = n > 0;
                if (written) put += static_cast<size_t>(n);
            }
            const int writeErrno = written ? 0 : (errno ? errno : ENOSPC);
            if ((file >= 0 && close(file) != 0 && written) || !written) {
                failures[part] = writeErrno ? writeErrno : errno;
                failedAt[part] = i;
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t part = 1; part < threadCount; ++part) threads.emplace_back(writeSlice, part);
    writeSlice(0);
    for (std::thread& thread : threads) thread.join();
    close(folder);
    for (size_t part = 0; part < threadCount; ++part)
        if (failures[part] != 0) {
            errno = failures[part];
            error = "cannot write " + (paths.staging / (std::to_string(failedAt[part] + 1) + ".txt")).string() +
                    ": " + lastSystemError();
            return false;
        }
    if (!writeWholeFile(paths.staging / countFileName(), std::to_string(entries.size()) + "\n", error) ||
        !writeWholeFile(paths.staging / nameIndexFileName(), names, error))
        return false;
    if (!alternatives.empty() &&
        !writeWholeFile(paths.staging / alternativesFileName(), alternatives, error))
        return false;
    // Everything of the new catalogue reaches the disk before it is switched in.
    if (!flushFileSystem(paths.staging.string())) {
        error = "cannot write the new catalogue to the disk: " + lastSystemError();
        return false;
    }
    return true;
}

// Puts the staging folder in the catalogue's place in one step.
// The old catalogue goes at once, or, when `later`, is moved aside for the
// background card maker to remove: removing tens of thousands of files can
// take seconds on a busy disk, and the new catalogue is in place already.
bool switchCatalogue(const RootPaths& paths, bool later, std::string& error) {
    std::error_code code;
    const bool hadCatalogue = fs::exists(fs::symlink_status(paths.catalogue, code));
    if (hadCatalogue) {
        switch (exchangeFolders(paths.staging.string(), paths.catalogue.string())) {
            case foldersExchanged: {
                const fs::path aside = paths.root / (replacedPrefix + std::to_string(getpid()));
                fs::remove_all(aside, code);
                fs::rename(paths.staging, aside, code);
                fs::remove_all(paths.staging, code);
                if (!later) {
                    // A card maker may still write into the old catalogue
                    // until it notices the switch: it is removed once no
                    // maker works any more.
                    const int makers = lockCardMakers(paths.folder, 30000);
                    removeReplacedCatalogues(paths.folder);
                    unlockCardMakers(makers);
                }
                return true;
            }
            case exchangeFailed:
                error = "cannot switch the new catalogue into place: " + lastSystemError();
                return false;
            case exchangeUnsupported:
                break;
        }
        // Two renames: an import killed between them is repaired by the next
        // one (cleanUpAfterEarlierImports).
        fs::rename(paths.catalogue, paths.retired, code);
        if (code) {
            error = "cannot move the old catalogue aside: " + code.message();
            return false;
        }
    }
    fs::rename(paths.staging, paths.catalogue, code);
    if (code) {
        error = "cannot move the new catalogue into place: " + code.message();
        std::error_code ignored;
        if (hadCatalogue) fs::rename(paths.retired, paths.catalogue, ignored);
        return false;
    }
    fs::remove_all(paths.retired, code);
    return true;
}

// A new catalogue starts without live pictures: the statuses and kept cards
// of the one it replaced (VESTRALUME/live/1-*) belong to other channels.
void forgetLivePictures(const RootPaths& paths) {
    std::error_code code;
    const fs::path live = paths.root / "live";
    if (!fs::is_directory(fs::symlink_status(live, code))) return;
    std::vector<fs::path> stale;
    for (fs::directory_iterator entry(live, code), end; !code && entry != end; entry.increment(code))
        if (entry->path().filename().string().compare(0, 2, "1-") == 0) stale.push_back(entry->path());
    for (const fs::path& path : stale) fs::remove(path, code);
}

// Whether the catalogue in place holds these link files and this count: the
// same channels, whatever stands of their cards.
bool catalogueTextHolds(const RootPaths& paths, const std::vector<PlaylistEntry>& entries,
                        const std::vector<int>& links) {
    if (readWholeFile(paths, paths.catalogue / countFileName(), stateFileLimit) != std::to_string(entries.size()) + "\n")
        return false;
    for (size_t i = 0; i < entries.size(); ++i)
        if (readWholeFile(paths, paths.catalogue / (std::to_string(i + 1) + ".txt"), stateFileLimit) !=
            linkFileText(links[i], entries[i].name))
            return false;
    return true;
}

std::vector<std::string> logosOf(const std::vector<PlaylistEntry>& entries) {
    std::vector<std::string> logos;
    logos.reserve(entries.size());
    for (const PlaylistEntry& entry : entries) logos.push_back(entry.logo);
    return logos;
}

// The staging folder of a catalogue whose cards come later: its card list,
// and the cards of the page it will show made from what the caches hold
// (the logo card when the logo is cached, the name card otherwise). Cards
// made in their final form are logged as made; the rest stay pending.
bool stageCardsLater(const RootPaths& paths, const std::vector<PlaylistEntry>& entries,
                     const std::vector<CardRequest>& cardRequests, const std::vector<int>& page,
                     const ImportOptions& options, ImportResult& result) {
    std::error_code code;
    if (!fs::create_directory(paths.staging, code)) {
        result.error = "cannot create " + paths.staging.string() + ": " +
                       (code ? code.message() : std::string("something else has that name"));
        return false;
    }
    if (!writeWholeFile(paths.staging / pendingCardListName, formatCardList(logosOf(entries)), result.error))
        return false;
    std::vector<CardRequest> shown;
    for (int channel : page)
        if (channel >= 1 && static_cast<size_t>(channel) <= cardRequests.size())
            shown.push_back(cardRequests[static_cast<size_t>(channel - 1)]);
    CardOptions quick = options.cards;
    quick.network = false;
    const std::vector<CardResult> made = makeCards(shown, quick);
    std::string log;
    result.cards = CardProgress();
    result.cards.total = cardRequests.size();
    for (size_t i = 0; i < made.size(); ++i) {
        if (!made[i].written) {
            result.error = "cannot make the card of channel " + std::to_string(shown[i].number) +
                           (made[i].problem.empty() ? std::string() : ": " + made[i].problem);
            return false;
        }
        ++result.cards.made;  // drawn or copied from the card cache
        if (made[i].logo == logoCached) ++result.cards.cached;
        if (made[i].cacheDamaged) ++result.cards.damaged;
        if (made[i].logo != logoFailed || !options.cards.network) {
            log += madeLogLine(shown[i].number);
            ++result.cards.done;
        }
    }
    result.pendingCards = cardRequests.size() - result.cards.done;
    return writeWholeFile(paths.staging / madeCardLogName, log, result.error);
}

int catalogueSize(const RootPaths& paths) {
    // The count is read where the importer reads everything, beneath the root.
    std::string text;
    const FileOutcome outcome =
        readImportRootFile(paths.root.string(), paths.at(channelCountFile), stateFileLimit, text);
    if (outcome == fileRead)
        if (const std::optional<int> count = readChannelCount(paths.folder)) return *count;
    std::error_code code;
    return fs::is_directory(paths.catalogue, code) ? deliveredChannelCount : 0;
}

}  // namespace

bool lockDataRoot(const std::string& folder, std::string& error) {
    const RootPaths paths = pathsFor(folder);
    // A running viewer does not hold this lock: it follows the catalogue
    // switched in (state/root_locks.h).
    switch (lockImports(paths.folder)) {
        case folderLocked: return true;
        case folderBusy:
            error = paths.root.string() +
                    " is in use by another import into it or by an upgrade; wait for it to "
                    "end and try again";
            return false;
        case folderUnavailable: break;
    }
    std::error_code code;
    error = fs::is_directory(paths.root, code)
                ? "cannot make or open " + importLockFolder(paths.folder) +
                      ", the lock that keeps two imports apart (is the data root writable?)"
                : "there is no data root at " + paths.root.string();
    return false;
}

ImportResult importCatalogue(const std::string& folder, const std::vector<PlaylistEntry>& entries,
                             const ImportOptions& options) {
    ImportResult result;
    const RootPaths paths = pathsFor(folder);
    if (!lockDataRoot(folder, result.error)) return result;
    const std::string outside = importFolderLeadingOutside(paths.root.string());
    if (!outside.empty()) {
        result.error = outside + " is a symbolic link that leads out of the data root; nothing was changed";
        return result;
    }
    cleanUpAfterEarlierImports(paths);
    if (entries.empty()) {
        result.error = "there are no channels to import";
        return result;
    }
    if (entries.size() > static_cast<size_t>(maxChannelCount)) {
        result.error = "the playlist holds " + std::to_string(entries.size()) +
                       " channels; a catalogue holds at most " + std::to_string(maxChannelCount);
        return result;
    }
    ImportProgress progress;
    progress.entriesRead = entries.size();

    // Link numbers: an address the directory knows keeps its number, a new
    // one takes the next number above every number the directory holds, and
    // media entries nothing names any more leave the directory
    // (import/import_links.h).
    Directory directory;
    const std::string directoryPath = paths.at(urlDirectoryFile);
    if (!readDirectory(paths, directoryPath, directory, result.error)) return result;
    // The alternatives of merged channels are planned after every channel's
    // own address, so a playlist's channels number as they always did; each
    // goes by its channel's name and group. What the catalogue in place
    // names as alternatives is in use until the switch.
    std::vector<PlaylistEntry> planned = entries;
    std::vector<std::pair<size_t, size_t>> alternativeAt;  // (channel index, its entry in `planned`)
    for (size_t i = 0; i < entries.size() && i < options.alternatives.size(); ++i)
        for (size_t k = 0; k < options.alternatives[i].size() && k + 1 < maxAlternativeLinks; ++k) {
            PlaylistEntry alternative = entries[i];
            alternative.address = options.alternatives[i][k];
            alternativeAt.emplace_back(i, planned.size());
            planned.push_back(std::move(alternative));
        }
    std::vector<LinkUse> inUse = linkFilesInUse(paths.root.string(), catalogueSize(paths));
    for (int link : alternativeLinksInPlace(paths)) inUse.push_back(LinkUse{link, std::string()});
    const LinkPlan plan = planLinks(directory.text, planned, inUse,
                                    std::max(deliveredLinkCount, firstImportedLink - 1) + 1);
    if (!plan.error.empty()) {
        result.error = plan.error;
        return result;
    }
    const std::vector<int> links(plan.links.begin(), plan.links.begin() + static_cast<long>(entries.size()));
    result.newLinks = plan.newLinks;
    result.knownLinks = plan.knownLinks;
    result.firstNewLink = plan.firstNewLink;
    result.lastNewLink = plan.lastNewLink;
    std::vector<AlternativeLine> alternativeLines;
    for (const auto& [channel, at] : alternativeAt) {
        if (alternativeLines.empty() || alternativeLines.back().channel != static_cast<int>(channel + 1))
            alternativeLines.push_back(AlternativeLine{static_cast<int>(channel + 1), {links[channel]}});
        std::vector<int>& line = alternativeLines.back().links;
        if (std::find(line.begin(), line.end(), plan.links[at]) == line.end()) line.push_back(plan.links[at]);
    }
    alternativeLines.erase(std::remove_if(alternativeLines.begin(), alternativeLines.end(),
                                          [](const AlternativeLine& line) { return line.links.size() < 2; }),
                           alternativeLines.end());
    const std::string alternatives = formatAlternatives(alternativeLines);
    result.channels = entries.size();

    const int oldCount = catalogueSize(paths);
    const int newCount = static_cast<int>(entries.size());
    const std::string page = paths.at(pageFile(1));
    // The page is read only when it is a file beneath the root.
    std::string pageText;
    const bool pageReadable = readWholeFile(paths, page, stateFileLimit, pageText);
    const std::vector<int> inside =
        pageInside(pageReadable ? readIntList(page, wallTiles) : std::nullopt, newCount);
    const std::vector<CardRequest> cardRequests = catalogueCards(paths, entries);
    const std::string root = paths.root.string();
    auto unchanged = [&]() {
        result.switchedIn = true;
        result.unchanged = true;
        // Repairs what a run killed right after its switch may have left;
        // writes nothing when the page and its tiles are as they should be.
        if (!writeStateIfChanged(paths, page, formatIntList(inside)) ||
            !writeTilePaths(paths, inside, newCount))
            result.warnings.push_back("cannot write the page of the catalogue in " +
                                      paths.at(stateFolder));
        return result;
    };

    // The same playlist again, with every logo settled in the cache: the
    // import record tells whether the catalogue in place is what it would
    // make, without making a card.
    // The folder is looked up only when the cards can be told from the
    // caches at all.
    if (!plan.changed && alternativesHold(paths, alternatives)) {
        const std::string madeFrom = catalogueMadeFrom(cardRequests, links, options.cards);
        if (!madeFrom.empty() &&
            importRecordMatches(root, options.cards, madeFrom,
                                catalogueFingerprint(paths.catalogue.string(), newCount))) {
            result.cards.total = result.cards.done = cardRequests.size();
            return unchanged();
        }
    }

    std::error_code code;
    if (options.cardsLater && !plan.changed && catalogueTextHolds(paths, entries, links) &&
        alternativesHold(paths, alternatives)) {
        // The same channels: their cards are made in place, as they stand,
        // by the background card maker; one the same as before is left as it
        // is. A card list already there for exactly these logos is that
        // work still going on.
        const PendingCards pending = readPendingCards(paths.catalogue.string());
        if (!pending.listed) {
            std::string problem;
            if (!replaceFile((paths.catalogue / pendingCardListName).string(),
                             formatCardList(logosOf(entries)), problem)) {
                result.error = problem;
                return result;
            }
            result.pendingCards = entries.size();
            result.cards.total = entries.size();
            return unchanged();
        }
        if (pending.problem.empty() && pending.logos == logosOf(entries)) {
            result.pendingCards = pending.pending;
            result.cards.total = entries.size();
            result.cards.done = entries.size() - pending.pending;
            return unchanged();
        }
    }
    if (options.cardsLater) {
        if (!stageCardsLater(paths, entries, cardRequests, inside, options, result)) {
            fs::remove_all(paths.staging, code);
            return result;
        }
    } else if (!makeCatalogueCards(paths, cardRequests, options, progress, result)) {
        fs::remove_all(paths.staging, code);
        return result;
    }
    report(options, progress, ImportProgress::switching);

    // The names every script is searched by, transliterated once here so
    // the viewer needs no transliteration of its own.
    const std::string names = nameIndexText(nameEntriesOf(entries));
    // A damaged card cache entry may have put a picture from anywhere into
    // the catalogue in place: it is replaced, never called unchanged.
    if (!options.cardsLater && !plan.changed && result.cards.damaged == 0 &&
        alternativesHold(paths, alternatives) &&
        catalogueHolds(paths, entries, links, names, !alternatives.empty())) {
        fs::remove_all(paths.staging, code);
        recordCatalogue(paths, cardRequests, links, options.cards);
        return unchanged();
    }

    if (!writeCatalogueText(paths, entries, links, names, alternatives, result.error)) {
        fs::remove_all(paths.staging, code);
        return result;
    }

    // The directory first: it keeps every entry the catalogue in place
    // names, so the old catalogue works with the new directory as well as
    // the new one does.
    if (plan.changed) {
        if (!replaceFileContents(directoryPath, plan.directory)) {
            result.error = "cannot write the URL directory " + directoryPath + ": " + lastSystemError();
            fs::remove_all(paths.staging, code);
            return result;
        }
    }

    // The page, and the tiles it shows, stay inside both the old and the new
    // catalogue until the switch, so a root left at any moment is sound.
    if (!writeStateIfChanged(paths, page, formatIntList(inside)) ||
        !writeTilePaths(paths, inside, std::min(oldCount, newCount))) {
        result.error = "cannot write the page of the catalogue in " + paths.at(stateFolder) + ": " +
                       lastSystemError();
        fs::remove_all(paths.staging, code);
        return result;
    }
    // The grown directory reaches the disk before a catalogue that uses its
    // new numbers is switched in.
    if (!flushFileSystem(paths.root.string())) {
        result.error = "cannot write the URL directory to the disk: " + lastSystemError();
        fs::remove_all(paths.staging, code);
        return result;
    }

    if (!switchCatalogue(paths, options.cardsLater, result.error)) {
        fs::remove_all(paths.staging, code);
        return result;
    }
    result.switchedIn = true;
    forgetLivePictures(paths);
    if (!options.cardsLater) recordCatalogue(paths, cardRequests, links, options.cards);
    if (!writeTilePaths(paths, inside, newCount))
        result.warnings.push_back("the tiles of the current page show placeholders until the "
                                  "page is scrolled (cannot write their tile path files)");
    return result;
}

void removeReplacedCatalogues(const std::string& folder) {
    const RootPaths paths = pathsFor(folder);
    std::error_code code;
    std::vector<fs::path> replaced;
    for (fs::directory_iterator entry(paths.root, code), end; !code && entry != end; entry.increment(code))
        if (entry->path().filename().string().compare(0, replacedPrefix.size(), replacedPrefix) == 0)
            replaced.push_back(entry->path());
    for (const fs::path& old : replaced) fs::remove_all(old, code);
}

bool entryInGroups(const PlaylistEntry& entry, const std::vector<std::string>& groups) {
    if (groups.empty()) return true;
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (const std::string& group : groups)
        if (group.size() == entry.group.size() &&
            std::equal(group.begin(), group.end(), entry.group.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return true;
    return false;
}
