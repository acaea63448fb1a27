// The card maker: logos are got ready on the calling thread (cache and
// network), while drawing threads make the cards whose logos are ready,
// copying a card from the card cache whenever the same card was made before.
#include "cards/cards.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "cards/cards_cache.h"
#include "cards/cards_cache_entry.h"
#include "cards/cards_draw.h"
#include "cards/cards_text.h"
#include "cards/logo_fetch.h"
#include "cards/logo_image.h"
#include "cards/jpeg_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int cardQuality = 90;
// Most threads drawing cards, whatever the machine.
constexpr int maxDrawingThreads = 16;
// Cached logos and cards not used for this long are removed.
constexpr long long cacheKeepSeconds = 60LL * 24 * 3600;

struct CardJob {
    size_t index = 0;
    LogoReady logo;
};

// The cache folders of one run; a private temporary folder when the cache
// cannot be made, removed at the end.
struct CacheFolders {
    std::string logos;
    std::string cards;
    std::string temporary;

    ~CacheFolders() {
        std::error_code ignored;
        if (!temporary.empty()) fs::remove_all(temporary, ignored);
    }
};

bool makeFolder(const std::string& path) {
    std::error_code code;
    fs::create_directories(path, code);
    return fs::is_directory(path, code);
}

void prepareCache(const CardOptions& options, CacheFolders& folders) {
    const std::string base =
        options.cacheFolder.empty() ? defaultCardCacheFolder() : options.cacheFolder;
    if (makeFolder(base + "/logos") && makeFolder(base + "/cards")) {
        folders.logos = base + "/logos";
        folders.cards = base + "/cards";
        return;
    }
    std::error_code code;
    std::string pattern = (fs::temp_directory_path(code) / "quillon-cards-XXXXXX").string();
    if (!code && mkdtemp(pattern.data())) {
        folders.temporary = pattern;
        if (makeFolder(pattern + "/logos") && makeFolder(pattern + "/cards")) {
            folders.logos = pattern + "/logos";
            folders.cards = pattern + "/cards";
        }
    }
    // Otherwise both stay empty: nothing is cached at all.
}

// Removes files of the cache folder not used for cacheKeepSeconds, at most
// once a day (a stamp file remembers when it last did).
void pruneCache(const std::string& folder) {
    std::error_code code;
    const fs::path stamp = fs::path(folder) / ".pruned";
    const auto now = fs::file_time_type::clock::now();
    const auto last = fs::last_write_time(stamp, code);
    if (!code && now - last < std::chrono::hours(24)) return;
    std::string ignored;
    replaceFile(stamp.string(), std::to_string(secondsNow()), ignored);
    fs::last_write_time(stamp, now, code);
    const auto oldest = now - std::chrono::seconds(cacheKeepSeconds);
    for (fs::directory_iterator entry(folder, code), end; !code && entry != end;
         entry.increment(code)) {
        std::error_code fileCode;
        if (entry->path() == stamp || !entry->is_regular_file(fileCode)) continue;
        if (entry->last_write_time(fileCode) < oldest && !fileCode)
            fs::remove(entry->path(), fileCode);
    }
}

std::string notAnImageReason(const std::string& why, const std::string& contentType) {
    if (contentType.empty()) return why;
    return why + " (the server called it " + contentType + ")";
}

CardResult makeCard(const CardRequest& request, const LogoReady& ready, const std::string& cardFolder) {
    CardResult result;
    result.logo = ready.outcome;
    result.problem = ready.problem;
    const bool hasLogo = ready.outcome == logoFetched || ready.outcome == logoCached;

    // The logo's bytes are read now only when their digest is not known; a
    // card found in the cache then needs no logo at all.
    std::string bytes = ready.bytes;
    std::string digest = ready.digest;
    bool bytesRead = !bytes.empty();
    auto readLogo = [&]() {
        if (bytesRead) return true;
        std::string problem;
        bytesRead = readLimitedFile(ready.path, maxLogoBytes, bytes, problem);
        if (!bytesRead) {
            result.logo = logoFailed;
            result.problem = problem;
        }
        return bytesRead;
    };
    bool logoUsable = hasLogo;
    if (hasLogo && digest.empty()) {
        logoUsable = readLogo();
        if (logoUsable) digest = digestOf(bytes);
    }

    // Cards with programme lines change every few minutes: drawn each time.
    const bool caching = !cardFolder.empty() && !request.programme.shown;
    const std::string key = cardCacheKey(request, logoUsable ? digest : std::string());
    const std::string cachedCard = cardFolder + "/" + key + ".jpg";
    const std::string cachedNote = cardFolder + "/" + key + ".txt";
    std::string card, ignored;
    CachedCard cached;
    if (caching) cached = readCachedCard(cachedCard);
    if (cached.state == cachedCardDamaged) {
        result.cacheDamaged = true;
        result.cacheProblem = "the cached card " + cachedCard + " " + cached.problem;
    }
    if (cached.state == cachedCardGood) {
        card = std::move(cached.bytes);
        std::string note;
        if (logoUsable && readCacheFile(cachedNote, 1 << 16, note, ignored) && !note.empty()) {
            result.logo = logoFailed;
            result.problem = note;
            markUsed(cachedNote);
        }
        markUsed(cachedCard);
        markUsed(cachedCardDigestPath(cachedCard));
    } else {
        RgbaImage logo;
        std::string note;
        if (logoUsable && readLogo()) {
            std::string why;
            const bool small = request.programme.shown;
            if (!decodeLogo(bytes, small ? programmeLogoBoxWidth : logoBoxWidth,
                            small ? programmeLogoBoxHeight : logoBoxHeight, logo, why)) {
                note = notAnImageReason(why, ready.contentType);
                result.logo = logoFailed;
                result.problem = note;
            }
        }
        const CardCanvas canvas = drawCard(request, logo.pixels.empty() ? nullptr : &logo);
        const std::vector<unsigned char> jpeg =
            encodeJpeg(canvas.width, canvas.height, 3, canvas.pixels, cardQuality);
        card.assign(jpeg.begin(), jpeg.end());
        result.remade = true;
        if (card.empty()) {
            result.problem = "the card cannot be encoded";
            return result;
        }
        // The note first: a card in the cache is never seen without it.
        if (caching && (note.empty() || replaceFile(cachedNote, note, ignored)))
            keepCachedCard(cachedCard, card);
    }
    std::string problem;
    result.written = replaceFile(request.output, card, problem);
    if (!result.written) result.problem = problem;
    return result;
}

// The work of one run: jobs waiting for a drawing thread, and the counts
// the progress display shows.
class CardRun {
public:
    CardRun(const std::vector<CardRequest>& cardRequests, const std::string& cardFolder)
        : cardRequests_(cardRequests), cardFolder_(cardFolder), results_(cardRequests.size()) {
        counts_.total = cardRequests.size();
    }

    void add(size_t index, const LogoReady& logo) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back({index, logo});
        }
        wake_.notify_one();
    }

    void noMoreJobs() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        wake_.notify_all();
    }

    void draw() {
        for (;;) {
            CardJob job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return closed_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            CardResult result = makeCard(cardRequests_[job.index], job.logo, cardFolder_);
            std::lock_guard<std::mutex> lock(mutex_);
            ++counts_.done;
            if (result.logo == logoFetched) ++counts_.fetched;
            if (result.logo == logoCached) ++counts_.cached;
            if (result.logo == logoFailed) ++counts_.failed;
            if (result.remade) ++counts_.made;
            if (result.cacheDamaged) ++counts_.damaged;
            results_[job.index] = std::move(result);
            if (counts_.done == counts_.total) allDone_.notify_all();
        }
    }

    // Waits at most `wait` for every card to be made; true when they are.
    bool waitUntilDone(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        return allDone_.wait_for(lock, wait, [this] { return counts_.done == counts_.total; });
    }

    CardProgress counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }

    std::vector<CardResult> takeResults() { return std::move(results_); }

private:
    const std::vector<CardRequest>& cardRequests_;
    std::string cardFolder_;
    std::vector<CardResult> results_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable allDone_;
    std::deque<CardJob> jobs_;
    bool closed_ = false;
    CardProgress counts_;
};

int drawingThreadCount(const CardOptions& options) {
    if (options.drawingThreads > 0) return std::min(options.drawingThreads, maxDrawingThreads);
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(processors, 1, maxDrawingThreads);
}

}  // namespace

std::string cardsDigestFromCache(const std::vector<CardRequest>& cardRequests, const CardOptions& options,
                                 long long* newestEntryChange) {
    if (newestEntryChange) *newestEntryChange = 0;
    const std::string base =
        options.cacheFolder.empty() ? defaultCardCacheFolder() : options.cacheFolder;
    if (base.empty()) return std::string();
    const std::string logoFolder = base + "/logos";
    const long long now = secondsNow();
    std::unordered_map<std::string, std::optional<std::string>> settled;  // by logo address
    DigestStream cards;
    for (const CardRequest& cardRequest : cardRequests) {
        const LogoAddress address = classifyLogo(cardRequest.logo);
        std::string digest;
        switch (address.place) {
            case logoNowhere:
            case logoUnsupported:
                break;
            case logoInFile:
                return std::string();
            case logoOnServer: {
                auto known = settled.find(address.location);
                if (known == settled.end()) {
                    std::string found;
                    std::optional<std::string> entry;
                    if (logoSettledInCache(address.location, logoFolder, options, now, found))
                        entry = found;
                    known = settled.emplace(address.location, entry).first;
                }
                if (!known->second) return std::string();
                digest = *known->second;
                break;
            }
        }
        // Each description with its length before it: no two lists of cards
        // give the same stream.
        const std::string description = cardDescription(cardRequest, digest);
        cards.add(std::to_string(description.size()) + "\n");
        cards.add(description);
        // The card's cache entry as it stands: one that is no regular file
        // makes the cards unknown, so the import makes them and checks it.
        if (newestEntryChange && !cardRequest.programme.shown) {
            const long long changed = cachedCardChangeTime(base + "/cards/" + digestOf(description) + ".jpg");
            if (changed < 0) return std::string();
            *newestEntryChange = std::max(*newestEntryChange, changed);
        }
    }
    return cards.finish();
}

std::string defaultCardCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/quillon";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/quillon";
    std::error_code code;
    return (fs::temp_directory_path(code) / "quillon-cache").string();
}

int missingGlyphs(const std::string& name) { return countMissingGlyphs(name); }

std::vector<CardResult> makeCards(const std::vector<CardRequest>& cardRequests, const CardOptions& options,
                                  const std::function<void(const CardProgress&)>& progress) {
    startImageLibrary();
    CacheFolders folders;
    prepareCache(options, folders);
    // Half-written files of runs that were killed go before this run starts.
    for (const std::string& folder : {folders.logos, folders.cards})
        if (!folder.empty()) removeEndedTemporaries(folder);
    CardRun run(cardRequests, folders.cards);

    std::vector<std::thread> threads;
    const int threadCount = cardRequests.empty() ? 0 : drawingThreadCount(options);
    for (int i = 0; i < threadCount; ++i) threads.emplace_back([&run] { run.draw(); });

    auto lastReport = std::chrono::steady_clock::now();
    auto report = [&](bool always) {
        if (!progress) return;
        const auto now = std::chrono::steady_clock::now();
        if (!always && now - lastReport < std::chrono::milliseconds(100)) return;
        lastReport = now;
        progress(run.counts());
    };

    // Logos on servers are fetched once per address, however many channels
    // share them; everything else goes to the drawing threads at once.
    std::vector<std::string> addresses;
    std::unordered_map<std::string, std::vector<size_t>> channelsOf;
    for (size_t i = 0; i < cardRequests.size(); ++i) {
        const LogoAddress address = classifyLogo(cardRequests[i].logo);
        LogoReady logo;
        switch (address.place) {
            case logoNowhere:
                run.add(i, logo);
                break;
            case logoInFile:
                logo.outcome = logoFetched;
                logo.path = address.location;
                run.add(i, logo);
                break;
            case logoUnsupported:
                logo.outcome = logoFailed;
                logo.problem = address.problem;
                run.add(i, logo);
                break;
            case logoOnServer: {
                std::vector<size_t>& channels = channelsOf[address.location];
                if (channels.empty()) addresses.push_back(address.location);
                channels.push_back(i);
                break;
            }
        }
    }
    fetchLogos(
        addresses, folders.logos, options,
        [&](size_t index, const LogoReady& logo) {
            for (size_t channel : channelsOf[addresses[index]]) run.add(channel, logo);
        },
        [&] { report(false); });
    run.noMoreJobs();

    // The drawing threads finish; the progress display goes on meanwhile.
    while (!run.waitUntilDone(std::chrono::milliseconds(100))) report(false);
    for (std::thread& thread : threads) thread.join();
    report(true);
    if (folders.temporary.empty()) {
        pruneCache(folders.logos);
        pruneCache(folders.cards);
    }
    return run.takeResults();
}
