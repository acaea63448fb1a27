#include "import/import_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <filesystem>
#include <system_error>

#include "cards/cards_cache.h"
#include "dataroot/data_root.h"
#include "dataroot/name_index.h"

namespace fs = std::filesystem;

namespace {

// Records of version 1 were kept while cached cards were taken unchecked:
// they are not trusted.
const char recordHeading[] = "quillon import record 2";

// madeFrom is "<digest> <newest change of the card cache entries>".
bool splitMadeFrom(const std::string& madeFrom, std::string& digest, long long& changed) {
    const size_t space = madeFrom.find(' ');
    if (space == std::string::npos || space + 1 >= madeFrom.size() ||
        madeFrom.find_first_not_of("0123456789", space + 1) != std::string::npos ||
        madeFrom.size() - space - 1 > 19)
        return false;
    digest = madeFrom.substr(0, space);
    changed = std::stoll(madeFrom.substr(space + 1));
    return true;
}

// What a file's status says about its contents, as fixed-size numbers: a
// file written, replaced, renamed or removed changes at least one of them.
struct FileStanding {
    long long values[8] = {};
};

FileStanding standingOf(const struct stat& info) {
    FileStanding standing;
    const long long values[8] = {static_cast<long long>(info.st_dev),
                                 static_cast<long long>(info.st_ino),
                                 static_cast<long long>(info.st_mode),
                                 static_cast<long long>(info.st_size),
                                 static_cast<long long>(info.st_mtim.tv_sec),
                                 static_cast<long long>(info.st_mtim.tv_nsec),
                                 static_cast<long long>(info.st_ctim.tv_sec),
                                 static_cast<long long>(info.st_ctim.tv_nsec)};
    std::copy(values, values + 8, standing.values);
    return standing;
}

// The standing of the files of channels first..last (their link files and
// cards) in the open folder `folder`, in channel order; false when one of
// them cannot be found. A card that live pictures replaced is kept in the
// open folder `live` (-1 when there is none) as "1-<N>.jpg", a second name
// of the card's own file: its standing stands for the card. A card's change
// time is left out, since giving it that second name changes it.
bool addChannelFiles(int folder, int live, int first, int last, DigestStream& digest) {
    struct stat info, kept;
    for (int channel = first; channel <= last; ++channel) {
        for (const char* suffix : {".txt", ".Quillon"}) {
            const std::string name = std::to_string(channel) + suffix;
            if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
            const bool card = suffix[1] == 'Q';
            if (card && live >= 0 &&
                fstatat(live, ("1-" + std::to_string(channel) + ".jpg").c_str(), &kept, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(kept.st_mode) && kept.st_ino != info.st_ino)
                info = kept;
            FileStanding standing = standingOf(info);
            if (card) standing.values[6] = standing.values[7] = 0;
            digest.add(&standing, sizeof standing);
        }
    }
    return true;
}

// Where the record of the data root `root` is kept: named after the root's
// full path, so that every root has its own.
std::string recordPath(const std::string& root, const CardOptions& options) {
    const std::string base =
        options.cacheFolder.empty() ? defaultCardCacheFolder() : options.cacheFolder;
    std::error_code code;
    const fs::path full = fs::canonical(root, code);
    if (base.empty() || code) return std::string();
    return base + "/imports/" + digestOf(full.string());
}

}  // namespace

std::string catalogueMadeFrom(const std::vector<CardRequest>& cards, const std::vector<int>& links,
                              const CardOptions& options) {
    long long newestEntryChange = 0;
    const std::string cardsDigest = cardsDigestFromCache(cards, options, &newestEntryChange);
    if (cardsDigest.empty()) return std::string();
    std::string text = cardsDigest + "\n";
    for (int link : links) text += std::to_string(link) + "\n";
    return digestOf(text) + " " + std::to_string(newestEntryChange);
}

std::string catalogueFingerprint(const std::string& catalogueFolder, int channels) {
    const int folder = open(catalogueFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return std::string();
    // The folder's own times change whenever a file is added to it, removed
    // or renamed; the files' own whenever they are written. Only the files
    // that belong in it are looked at, by name, so nothing is listed or
    // sorted: looking up 100,000 channels' files is most of the work, shared
    // between threads in a fixed number of parts, one digest each.
    struct stat info;
    DigestStream whole;
    bool complete = channels >= 0 && fstat(folder, &info) == 0;
    // The live pictures' folder beside the catalogue's, when there is one.
    const int live = openat(folder, "../live", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (complete) {
        FileStanding standing = standingOf(info);
        // Live pictures rename new thumbnails into the folder all the time:
        // its own times are left out (every file that belongs in it is
        // looked at by name below).
        standing.values[4] = standing.values[5] = standing.values[6] = standing.values[7] = 0;
        whole.add(&standing, sizeof standing);
        const std::string countName = fs::path(channelCountFile).filename().string();
        complete = fstatat(folder, countName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        standing = standingOf(info);
        whole.add(&standing, sizeof standing);
        // The index of the names: a catalogue imported before there was one
        // (or whose index went) is made again with it.
        const std::string indexName = fs::path(nameIndexFile).filename().string();
        complete = complete && fstatat(folder, indexName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        standing = standingOf(info);
        whole.add(&standing, sizeof standing);
    }
    constexpr int parts = 8;
    std::vector<std::string> partDigests(parts);
    std::vector<char> partComplete(parts, 0);
    auto work = [&](int part) {
        DigestStream digest;
        const long long first = 1 + static_cast<long long>(channels) * part / parts;
        const long long last = static_cast<long long>(channels) * (part + 1) / parts;
        partComplete[part] =
            addChannelFiles(folder, live, static_cast<int>(first), static_cast<int>(last), digest);
        partDigests[part] = digest.finish();
    };
    if (complete) {
        const unsigned threadCount =
            std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
        std::vector<std::thread> threads;
        for (unsigned t = 1; t < threadCount; ++t)
            threads.emplace_back([&, t] {
                for (int part = static_cast<int>(t); part < parts; part += static_cast<int>(threadCount))
                    work(part);
            });
        for (int part = 0; part < parts; part += static_cast<int>(threadCount)) work(part);
        for (std::thread& thread : threads) thread.join();
    }
    close(folder);
    if (live >= 0) close(live);
    for (int part = 0; complete && part < parts; ++part) {
        complete = partComplete[part] != 0;
        whole.add(partDigests[part] + "\n");
    }
    return complete ? whole.finish() : std::string();
}

bool importRecordMatches(const std::string& root, const CardOptions& options,
                         const std::string& madeFrom, const std::string& fingerprint) {
    if (madeFrom.empty() || fingerprint.empty()) return false;
    const std::string path = recordPath(root, options);
    std::string text, ignored;
    if (path.empty() || !readLimitedFile(path, 4096, text, ignored)) return false;
    // The same cards and links, the catalogue as it stood, and no card
    // cache entry of its cards changed since the record: an entry replaced
    // since (cut, altered, a link, a FIFO) sends the import the whole way,
    // where it is checked and made again. Entries gone since (the cache
    // pruned or cleared) change nothing in the catalogue.
    const std::string heading = std::string(recordHeading) + "\n";
    const size_t end = text.find('\n', heading.size());
    std::string nowDigest, keptDigest;
    long long nowChanged = 0, keptChanged = 0;
    return text.compare(0, heading.size(), heading) == 0 && end != std::string::npos &&
           splitMadeFrom(madeFrom, nowDigest, nowChanged) &&
           splitMadeFrom(text.substr(heading.size(), end - heading.size()), keptDigest, keptChanged) &&
           nowDigest == keptDigest && nowChanged <= keptChanged &&
           text.substr(end + 1) == fingerprint + "\n";
}

void keepImportRecord(const std::string& root, const CardOptions& options,
                      const std::string& madeFrom, const std::string& fingerprint) {
    const std::string path = recordPath(root, options);
    if (path.empty()) return;
    std::error_code code;
    fs::create_directories(fs::path(path).parent_path(), code);
    std::string ignored;
    if (madeFrom.empty() || fingerprint.empty()) {
        fs::remove(path, code);  // an older record must not outlive the catalogue it told of
        return;
    }
    replaceFile(path, std::string(recordHeading) + "\n" + madeFrom + "\n" + fingerprint + "\n",
                ignored);
}
