#include "import/import_cards.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "dataroot/data_root.h"
#include "import/import.h"
#include "import/import_record.h"
#include "dataroot/pending_cards.h"
#include "platform/process.h"
#include "state/state_files.h"

namespace fs = std::filesystem;

namespace {

// Cards made in one go: a page near the wall, or more at a time for the
// rest, so that a new page on the wall waits for at most one batch.
constexpr size_t wallBatch = 16;
constexpr size_t restBatch = 48;

// A descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int opened) : fd(opened) {}
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// A regular file of at most `limit` bytes in the open folder `folder`.
bool readAt(int folder, const std::string& name, size_t limit, std::string& bytes) {
    bytes.clear();
    const Descriptor file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > limit)
        return false;
    char buffer[1 << 14];
    for (;;) {
        const ssize_t got = read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > limit) return false;
    }
}

// The link number and name of a channel, from its link file.
struct LinkFile {
    int link = 0;
    std::string name;
};

LinkFile readLinkFileAt(int folder, int channel) {
    LinkFile file;
    std::string bytes;
    if (!readAt(folder, std::to_string(channel) + ".txt", 16u << 10, bytes)) return file;
    const size_t end = bytes.find('\n');
    file.link = std::atoi(bytes.substr(0, end).c_str());
    if (end != std::string::npos) {
        const size_t nameEnd = bytes.find('\n', end + 1);
        file.name = bytes.substr(end + 1, nameEnd == std::string::npos ? std::string::npos : nameEnd - end - 1);
        if (!file.name.empty() && file.name.back() == '\r') file.name.pop_back();
    }
    return file;
}

// Temporary files of card replacements a killed maker left, as
// replaceFile names them ("<name>.tmp-<process>-<serial>"); only the maker,
// holding its lock, writes into the catalogue folder.
void removeStaleTemporaries(int folder) {
    const int listed = dup(folder);
    if (listed < 0) return;
    DIR* entries = fdopendir(listed);
    if (!entries) {
        close(listed);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(entries)) {
        const std::string name = entry->d_name;
        const size_t mark = name.rfind(".tmp-");
        if (mark == std::string::npos || mark == 0) continue;
        const std::string rest = name.substr(mark + 5);
        if (!rest.empty() && rest.find_first_not_of("0123456789-") == std::string::npos)
            stale.push_back(name);
    }
    closedir(entries);
    for (const std::string& name : stale) unlinkat(folder, name.c_str(), 0);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The first channel of the catalogue's page on the wall; 1 when it cannot be read.
int pageFirstChannel(const std::string& folder) {
    const std::optional<std::vector<int>> page =
        readIntList((fs::path(folder) / pageFile(1)).string(), wallTiles);
    return page ? (*page)[0] : 1;
}

void addCounts(CardProgress& total, const std::vector<CardResult>& results) {
    for (const CardResult& card : results) {
        if (card.logo == logoFetched) ++total.fetched;
        if (card.logo == logoCached) ++total.cached;
        if (card.logo == logoFailed) ++total.failed;
        if (card.remade) ++total.made;
        if (card.cacheDamaged) ++total.damaged;
    }
}

}  // namespace

int lockCardMakers(const std::string& folder, int waitMilliseconds) {
    const fs::path state = fs::path(folder.empty() ? "." : folder) / stateFolder;
    const int fd = open(state.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    for (int waited = 0;; waited += 20) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= waitMilliseconds) break;
        usleep(20000);
    }
    close(fd);
    return -1;
}

void unlockCardMakers(int lock) {
    if (lock >= 0) close(lock);
}

bool nearTheWall(int channel, int pageFirst) {
    return channel >= pageFirst - wallTiles && channel < pageFirst + 2 * wallTiles;
}

std::vector<int> nextCardsToMake(const std::vector<bool>& made, int pageFirst, size_t most) {
    const int count = static_cast<int>(made.size());
    std::vector<int> chosen;
    std::vector<bool> taken(made.size(), false);
    auto take = [&](int from, int to) {
        for (int channel = std::max(from, 1); channel <= std::min(to, count) && chosen.size() < most;
             ++channel) {
            const size_t index = static_cast<size_t>(channel - 1);
            if (made[index] || taken[index]) continue;
            taken[index] = true;
            chosen.push_back(channel);
        }
    };
    const int lastFirst = lastFirstChannelFor(count);
    take(pageFirst, pageFirst + wallTiles - 1);
    take(pageFirst + wallTiles, pageFirst + 2 * wallTiles - 1);
    take(pageFirst - wallTiles, pageFirst - 1);
    take(1, wallTiles);
    take(lastFirst, lastFirst + wallTiles - 1);
    take(1, count);
    return chosen;
}

PendingCardResult makePendingCards(const std::string& folder, const PendingCardOptions& options) {
    PendingCardResult result;
    const fs::path root = fs::path(folder.empty() ? "." : folder) / dataRoot.substr(0, dataRoot.size() - 1);
    const fs::path catalogue = root / "1";

    // One maker at a time: the lock is held on the state folder, which every
    // root has and no import replaces, so it outlives every switch of the
    // catalogue and leaves no file behind.
    const fs::path lockedFolder = root / "n";
    const Descriptor lock(open(lockedFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.fd < 0) {
        result.error = "cannot open " + lockedFolder.string() + ": " + std::strerror(errno);
        return result;
    }
    int locked;
    do locked = flock(lock.fd, LOCK_EX | (options.waitForOtherMaker ? 0 : LOCK_NB));
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        result.busy = errno == EWOULDBLOCK;
        if (!result.busy) result.error = "cannot lock " + lockedFolder.string() + ": " + std::strerror(errno);
        return result;
    }

    // The catalogue as it is now; every card goes through this handle.
    const Descriptor dir(open(catalogue.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat mine;
    if (dir.fd < 0 || fstat(dir.fd, &mine) != 0) {
        result.error = "cannot open the catalogue " + catalogue.string() + ": " + std::strerror(errno);
        return result;
    }
    const std::string here = "/proc/self/fd/" + std::to_string(dir.fd);
    auto replaced = [&]() {
        struct stat now;
        return stat(catalogue.c_str(), &now) != 0 || !sameFile(now, mine);
    };

    PendingCards cards = readPendingCards(here);
    if (!cards.listed) {
        result.complete = true;
        return result;
    }
    if (!cards.problem.empty()) {
        result.error = cards.problem;
        return result;
    }
    removeStaleTemporaries(dir.fd);
    const int channels = static_cast<int>(cards.logos.size());
    result.cards.total = cards.pending;

    const Descriptor log(openat(dir.fd, madeCardLogName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (log.fd < 0) {
        result.error = "cannot write " + (catalogue / madeCardLogName).string() + ": " + std::strerror(errno);
        return result;
    }
    // A line cut short (a write the system lost) is ended first, so that the
    // next number is not read as part of it.
    struct stat logInfo;
    char lastByte = '\n';
    if (fstat(log.fd, &logInfo) == 0 && logInfo.st_size > 0) {
        const Descriptor reading(openat(dir.fd, madeCardLogName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (reading.fd >= 0 && pread(reading.fd, &lastByte, 1, logInfo.st_size - 1) == 1 && lastByte != '\n' &&
            write(log.fd, "\n", 1) != 1) {
            result.error = "cannot write " + (catalogue / madeCardLogName).string() + ": " + std::strerror(errno);
            return result;
        }
    }
    auto logMade = [&](const std::vector<int>& done) {
        std::string lines;
        for (int channel : done) lines += madeLogLine(channel);
        // One write: a kill cuts it whole or not at all at a line's end,
        // and a cut line counts for nothing.
        return lines.empty() || write(log.fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    };

    auto requestFor = [&](int channel) {
        CardRequest request;
        request.name = readLinkFileAt(dir.fd, channel).name;
        request.number = channel;
        request.logo = cards.logos[static_cast<size_t>(channel - 1)];
        request.output = here + "/" + std::to_string(channel) + ".Quillon";
        return request;
    };

    CardOptions quick = options.cards;
    quick.network = false;
    size_t remaining = cards.pending;
    while (remaining > 0) {
        if (replaced()) {
            result.replaced = true;
            break;
        }
        const int pageFirst = options.followWall ? pageFirstChannel(folder) : 1;
        std::vector<int> batch = nextCardsToMake(cards.made, pageFirst, restBatch);
        // Near the wall the batch is one page, so the wall moving on is
        // followed within one page of cards; the page on the wall is a batch
        // of its own, the only one made at normal priority.
        auto onTheWall = [&](int channel) { return channel >= pageFirst && channel < pageFirst + wallTiles; };
        const bool wallPage = !batch.empty() && onTheWall(batch.front());
        if (wallPage)
            batch.erase(std::find_if(batch.begin(), batch.end(), [&](int channel) { return !onTheWall(channel); }),
                        batch.end());
        else if (!batch.empty() && nearTheWall(batch.front(), pageFirst) && batch.size() > wallBatch)
            batch.resize(wallBatch);

        // A tile near the wall with no card at all gets one at once from what
        // the caches hold: the logo card when the logo is cached, otherwise
        // the name card, until its logo arrives.
        std::vector<int> quickChannels, fullChannels;
        std::vector<CardRequest> quickRequests;
        for (int channel : batch) {
            struct stat info;
            if (nearTheWall(channel, pageFirst) &&
                fstatat(dir.fd, (std::to_string(channel) + ".Quillon").c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                quickChannels.push_back(channel);
                quickRequests.push_back(requestFor(channel));
            } else {
                fullChannels.push_back(channel);
            }
        }
        std::vector<int> done;
        if (!quickRequests.empty()) {
            const std::vector<CardResult> made = makeCards(quickRequests, quick);
            for (size_t i = 0; i < made.size(); ++i) {
                const bool final = made[i].written && (made[i].logo != logoFailed || !options.cards.network);
                (final ? done : fullChannels).push_back(quickChannels[i]);
            }
            addCounts(result.cards, made);
        }
        std::vector<CardRequest> fullRequests;
        for (int channel : fullChannels) fullRequests.push_back(requestFor(channel));
        std::vector<CardResult> made;
        if (wallPage) {
            made = makeCards(fullRequests, options.cards);
        } else {
            // Cards off the wall are made at low priority, on a thread of
            // their own: the thread asking for the wall's cards keeps its
            // priority for when the wall moves.
            std::thread background([&] {
                lowerThreadPriority();
                made = makeCards(fullRequests, options.cards);
            });
            background.join();
        }
        addCounts(result.cards, made);
        for (size_t i = 0; i < made.size(); ++i) {
            if (made[i].written) {
                done.push_back(fullChannels[i]);
            } else if (!replaced()) {
                result.error = "cannot make the card of channel " + std::to_string(fullChannels[i]) +
                               (made[i].problem.empty() ? std::string() : ": " + made[i].problem);
            }
        }
        if (!logMade(done)) {
            result.error = "cannot write " + (catalogue / madeCardLogName).string() + ": " + std::strerror(errno);
        }
        for (int channel : done) {
            if (cards.made[static_cast<size_t>(channel - 1)]) continue;
            cards.made[static_cast<size_t>(channel - 1)] = true;
            --remaining;
            ++result.cards.done;
        }
        if (options.progress) options.progress(result.cards);
        if (!result.error.empty()) break;
    }
    result.pending = remaining;
    // What imports switched out goes now that the wall has its cards.
    removeReplacedCatalogues(folder);
    if (remaining > 0 || result.replaced || replaced()) return result;

    // Every card is made: the catalogue is complete without its list, and
    // the import record lets the same playlist again be done at once.
    fsync(dir.fd);
    if (unlinkat(dir.fd, pendingCardListName, 0) != 0 && errno != ENOENT) {
        result.error = "cannot remove " + (catalogue / pendingCardListName).string() + ": " + std::strerror(errno);
        return result;
    }
    unlinkat(dir.fd, madeCardLogName, 0);
    fsync(dir.fd);
    result.complete = true;
    std::vector<CardRequest> requests;
    std::vector<int> links;
    requests.reserve(static_cast<size_t>(channels));
    for (int channel = 1; channel <= channels; ++channel) {
        const LinkFile file = readLinkFileAt(dir.fd, channel);
        CardRequest request;
        request.name = file.name;
        request.number = channel;
        request.logo = cards.logos[static_cast<size_t>(channel - 1)];
        requests.push_back(request);
        links.push_back(file.link);
    }
    const std::string madeFrom = catalogueMadeFrom(requests, links, options.cards);
    if (!replaced())
        keepImportRecord(root.string(), options.cards, madeFrom,
                         madeFrom.empty() ? std::string() : catalogueFingerprint(here, channels));
    return result;
}
