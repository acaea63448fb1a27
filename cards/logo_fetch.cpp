#include "cards/logo_fetch.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <sstream>

#include "cards/cards_cache.h"
#include "fetch/fetch.h"

namespace {

// Servers that could not be reached, one after the other with none answering,
// before the machine is taken to be offline and the other logos are not tried.
constexpr int offlineAfter = 12;
// Longest logo address fetched.
constexpr size_t maxAddressLength = 4096;

const char* const recordHeading = "quillon logo record 1";

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes %XX sequences; others are kept as they are.
std::string percentDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

// The scheme of an address in lower case ("http"), or empty when it has
// none. One letter before the colon is a drive letter, not a scheme.
std::string schemeOf(const std::string& address) {
    const size_t colon = address.find(':');
    if (colon == std::string::npos || colon < 2) return std::string();
    if (!std::isalpha(static_cast<unsigned char>(address[0]))) return std::string();
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::string();
    }
    return lowerCase(address.substr(0, colon));
}

std::string oneLine(const std::string& text) {
    std::string line = text;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return trimmed(line);
}

std::string sizeLimitText() { return std::to_string(maxLogoBytes >> 20) + " MiB"; }

// One fetch in flight, with everything its callbacks and its end need.
struct Transfer {
    size_t index = 0;
    std::string address;
    std::string host;
    std::string stem;  // the cache files' path without extension
    CURL* easy = nullptr;
    FetchTransfer fetch;
    std::string body;
    bool bytesCached = false;  // a copy from before is in the cache
    LogoRecord record;         // what the cache knew (address set when known)

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
    }
};

// How a failed fetch ended.
struct FetchFailure {
    std::string reason;
    bool unreachable = false;  // the server could not be reached at all
    bool gone = false;         // the server says the logo is not there
};

FetchFailure describeFailure(const FetchRequest& request, const FetchResult& result) {
    FetchFailure failure;
    switch (result.end) {
        case fetchHostUnknown:
        case fetchProxyUnknown:
        case fetchNotConnected:
            failure.unreachable = true;
            break;
        case fetchTimedOut:
            failure.unreachable = !result.requestSent;
            break;
        default:
            break;
    }
    failure.reason = result.end == fetchTooLarge
                         ? "larger than the " + sizeLimitText() + " a logo may have"
                         : fetchReason(request, result);
    return failure;
}

// The fetcher's state for one run.
class Fetcher {
public:
    Fetcher(const std::vector<std::string>& addresses, const std::string& folder,
            const CardOptions& options, const std::function<void(size_t, const LogoReady&)>& ready)
        : addresses_(addresses), folder_(folder), options_(options), ready_(ready) {}

    ~Fetcher() {
        for (auto& transfer : active_) curl_multi_remove_handle(multi_, transfer->easy);
        active_.clear();
        if (multi_) curl_multi_cleanup(multi_);
    }

    void run(const std::function<void()>& tick) {
        const long long now = secondsNow();
        for (size_t i = 0; i < addresses_.size(); ++i) plan(i, now);
        if (queue_.empty()) return;
        startFetching();
        multi_ = curl_multi_init();
        if (!multi_) {
            while (!queue_.empty()) {
                giveUp(std::move(queue_.front()),
                       {"the network library (libcurl) cannot start", true, false});
                queue_.pop_front();
            }
            return;
        }
        const int parallel = std::clamp(options_.parallelFetches, 1, 64);
        curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(parallel));
        while (!queue_.empty() || !active_.empty()) {
            while (active_.size() < static_cast<size_t>(parallel) && !queue_.empty()) {
                std::unique_ptr<Transfer> transfer = std::move(queue_.front());
                queue_.pop_front();
                start(std::move(transfer));
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            collectFinished();
            if (tick) tick();
            if (!active_.empty()) curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
        }
    }

private:
    std::string stemOf(const std::string& address) const {
        return folder_ + "/" + digestOf(address);
    }

    bool loadRecord(const std::string& stem, const std::string& address, LogoRecord& record) {
        std::string text, ignored;
        return readLimitedFile(stem + ".txt", 1 << 16, text, ignored) &&
               parseLogoRecord(text, record) && record.address == address;
    }

    void deliver(size_t index, const LogoReady& logo) { ready_(index, logo); }

    LogoReady cachedLogo(const Transfer& transfer) const {
        LogoReady logo;
        logo.outcome = logoCached;
        logo.path = transfer.stem + ".logo";
        logo.digest = transfer.record.digest;
        logo.contentType = transfer.record.contentType;
        return logo;
    }

    void plan(size_t index, long long now) {
        auto transfer = std::make_unique<Transfer>();
        transfer->index = index;
        transfer->address = addresses_[index];
        transfer->stem = stemOf(transfer->address);
        const bool known =
            !folder_.empty() && loadRecord(transfer->stem, transfer->address, transfer->record);
        transfer->bytesCached = known && transfer->record.failure.empty() &&
                                !transfer->record.digest.empty() &&
                                access((transfer->stem + ".logo").c_str(), R_OK) == 0;
        switch (planLogoFetch(known ? &transfer->record : nullptr, transfer->bytesCached, now,
                              options_)) {
            case planUseCache:
                deliver(index, cachedLogo(*transfer));
                return;
            case planRememberFailure: {
                LogoReady logo;
                logo.outcome = logoFailed;
                logo.problem = transfer->record.failure;
                deliver(index, logo);
                return;
            }
            case planOffline:
                if (transfer->bytesCached) {
                    deliver(index, cachedLogo(*transfer));
                } else {
                    LogoReady logo;
                    logo.outcome = logoFailed;
                    logo.problem = "not fetched: working offline";
                    deliver(index, logo);
                }
                return;
            case planFetch:
                transfer->host = fetchHostOf(transfer->address);
                if (!known) transfer->record = LogoRecord();
                queue_.push_back(std::move(transfer));
                return;
        }
    }

    void start(std::unique_ptr<Transfer> transfer) {
        if (offline_) {
            giveUp(std::move(transfer),
                   {"not fetched: no logo server could be reached (offline?)", true, false});
            return;
        }
        const auto dead = deadHosts_.find(transfer->host);
        if (dead != deadHosts_.end()) {
            giveUp(std::move(transfer), {dead->second + " (tried for another logo)", true, false});
            return;
        }
        transfer->easy = curl_easy_init();
        if (!transfer->easy) {
            giveUp(std::move(transfer),
                   {"the network library (libcurl) cannot start", true, false});
            return;
        }
        CURL* easy = transfer->easy;
        FetchRequest request;
        request.address = transfer->address;
        request.limits.maxBytes = maxLogoBytes;
        request.limits.connectSeconds = options_.connectTimeout;
        request.limits.totalSeconds = options_.fetchTimeout;
        if (transfer->bytesCached)
            request.validators = {transfer->record.etag, transfer->record.modified};
        request.userAgent = "Quillon logo fetcher";
        request.accept = "image/*, */*;q=0.5";
        request.decompress = true;
        std::string& body = transfer->body;
        if (!prepareFetch(easy, transfer->fetch, request, [&body](const char* data, size_t size) {
                body.append(data, size);
                return true;
            })) {
            giveUp(std::move(transfer),
                   {"the network library (libcurl) cannot start", true, false});
            return;
        }
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
            giveUp(std::move(transfer),
                   {"the network library (libcurl) cannot start", true, false});
            return;
        }
        active_.push_back(std::move(transfer));
    }

    void collectFinished() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            curl_multi_remove_handle(multi_, easy);
            const auto found = std::find_if(active_.begin(), active_.end(),
                                            [easy](const auto& t) { return t->easy == easy; });
            if (found == active_.end()) continue;
            std::unique_ptr<Transfer> transfer = std::move(*found);
            active_.erase(found);
            finish(std::move(transfer), result);
        }
    }

    void finish(std::unique_ptr<Transfer> transfer, CURLcode result) {
        const FetchResult fetched = finishFetch(transfer->easy, transfer->fetch, result);
        if (fetched.end != fetchDone) {
            const FetchFailure failure = describeFailure(transfer->fetch.request, fetched);
            if (failure.unreachable) {
                deadHosts_.emplace(transfer->host, failure.reason);
                if (!anyAnswer_ && ++unreachable_ >= offlineAfter) offline_ = true;
            } else {
                anyAnswer_ = true;
            }
            giveUp(std::move(transfer), failure);
            return;
        }
        anyAnswer_ = true;
        const long status = fetched.status;
        const long long now = secondsNow();
        if (status == 304 && transfer->bytesCached) {
            // Still the same logo: only the time it was checked changes.
            transfer->record.checked = now;
            std::string ignored;
            replaceFile(transfer->stem + ".txt", formatLogoRecord(transfer->record), ignored);
            markUsed(transfer->stem + ".logo");
            deliver(transfer->index, cachedLogo(*transfer));
            return;
        }
        if (status < 200 || status > 299) {
            FetchFailure failure;
            failure.reason = "the server answered " + std::to_string(status);
            failure.gone = status == 404 || status == 410;
            giveUp(std::move(transfer), failure);
            return;
        }
        if (transfer->body.empty()) {
            giveUp(std::move(transfer), {"the server sent an empty file", false, false});
            return;
        }
        LogoRecord record;
        record.address = transfer->address;
        record.checked = now;
        record.etag = oneLine(fetched.validators.etag);
        record.modified = oneLine(fetched.validators.lastModified);
        char* type = nullptr;
        if (curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
            record.contentType = oneLine(type);
        record.digest = digestOf(transfer->body);

        LogoReady logo;
        logo.outcome = logoFetched;
        logo.digest = record.digest;
        logo.contentType = record.contentType;
        std::string problem;
        // The bytes first, then the record naming them: a record never
        // describes bytes that are not there.
        if (!folder_.empty() && replaceFile(transfer->stem + ".logo", transfer->body, problem) &&
            replaceFile(transfer->stem + ".txt", formatLogoRecord(record), problem)) {
            logo.path = transfer->stem + ".logo";
            markUsed(logo.path);
        } else {
            // The cache cannot be written: the card is drawn from the bytes
            // fetched all the same.
            logo.path.clear();
            logo.problem = problem;
            logo.bytes = std::move(transfer->body);
        }
        deliver(transfer->index, logo);
    }

    // Ends the fetch of one logo with `failure`. The bytes from before stand
    // in when the server only could not be asked; failures the server gave
    // are remembered for a while so that they are not asked for again at once.
    void giveUp(std::unique_ptr<Transfer> transfer, const FetchFailure& failure) {
        if (transfer->bytesCached && !failure.gone) {
            deliver(transfer->index, cachedLogo(*transfer));
            return;
        }
        if (!failure.unreachable && !folder_.empty()) {
            LogoRecord record;
            record.address = transfer->address;
            record.checked = secondsNow();
            record.failure = failure.reason;
            std::string ignored;
            if (replaceFile(transfer->stem + ".txt", formatLogoRecord(record), ignored))
                unlink((transfer->stem + ".logo").c_str());
        }
        LogoReady logo;
        logo.outcome = logoFailed;
        logo.problem = failure.reason;
        deliver(transfer->index, logo);
    }

    const std::vector<std::string>& addresses_;
    std::string folder_;
    const CardOptions& options_;
    const std::function<void(size_t, const LogoReady&)>& ready_;
    CURLM* multi_ = nullptr;
    std::deque<std::unique_ptr<Transfer>> queue_;
    std::vector<std::unique_ptr<Transfer>> active_;
    std::map<std::string, std::string> deadHosts_;
    bool anyAnswer_ = false;
    int unreachable_ = 0;
    bool offline_ = false;
};

}  // namespace

LogoAddress classifyLogo(const std::string& logo) {
    LogoAddress address;
    const std::string text = trimmed(logo);
    if (text.empty()) return address;
    address.place = logoUnsupported;
    if (std::any_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        address.problem = "the logo address holds control characters";
        return address;
    }
    if (text.size() > maxAddressLength) {
        address.problem =
            "the logo address is longer than " + std::to_string(maxAddressLength) + " characters";
        return address;
    }
    const std::string scheme = schemeOf(text);
    if (scheme.empty()) {
        address.place = logoInFile;
        address.location = text;
        return address;
    }
    if (scheme == "http" || scheme == "https") {
        address.place = logoOnServer;
        for (char c : text) {
            if (c == ' ')
                address.location += "%20";
            else
                address.location.push_back(c);
        }
        return address;
    }
    if (scheme == "file") {
        std::string rest = text.substr(5);
        if (rest.compare(0, 2, "//") == 0) {
            rest = rest.substr(2);
            const size_t slash = rest.find('/');
            const std::string host = rest.substr(0, slash);
            if (!host.empty() && lowerCase(host) != "localhost") {
                address.problem = "file: addresses of other machines (" + host + ") are not read";
                return address;
            }
            rest = slash == std::string::npos ? std::string() : rest.substr(slash);
        }
        const std::string path = percentDecoded(rest);
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) {
            address.problem = "the file: address names no file";
            return address;
        }
        address.place = logoInFile;
        address.location = path;
        return address;
    }
    address.problem = "only http, https and file addresses are read, not " + scheme + ":";
    return address;
}

std::string formatLogoRecord(const LogoRecord& record) {
    std::string text = std::string(recordHeading) + "\n";
    const std::pair<const char*, std::string> fields[] = {
        {"address", record.address},  {"checked", std::to_string(record.checked)},
        {"etag", record.etag},        {"modified", record.modified},
        {"type", record.contentType}, {"digest", record.digest},
        {"failure", record.failure}};
    for (const auto& [name, value] : fields)
        if (!value.empty()) text += std::string(name) + " " + oneLine(value) + "\n";
    return text;
}

bool parseLogoRecord(const std::string& text, LogoRecord& record) {
    record = LogoRecord();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != recordHeading) return false;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string name = line.substr(0, space), value = line.substr(space + 1);
        if (name == "address")
            record.address = value;
        else if (name == "checked")
            record.checked = std::strtoll(value.c_str(), nullptr, 10);
        else if (name == "etag")
            record.etag = value;
        else if (name == "modified")
            record.modified = value;
        else if (name == "type")
            record.contentType = value;
        else if (name == "digest")
            record.digest = value;
        else if (name == "failure")
            record.failure = value;
    }
    return !record.address.empty();
}

FetchPlan planLogoFetch(const LogoRecord* record, bool bytesCached, long long now,
                        const CardOptions& options) {
    if (!options.network) return planOffline;
    if (!record) return planFetch;
    const long long age = now - record->checked;
    // A clock set back makes every record look new: ask again.
    if (age < 0) return planFetch;
    if (!record->failure.empty())
        return age < options.failureFreshSeconds ? planRememberFailure : planFetch;
    return bytesCached && age < options.logoFreshSeconds ? planUseCache : planFetch;
}

bool logoSettledInCache(const std::string& location, const std::string& folder,
                        const CardOptions& options, long long now, std::string& digest) {
    digest.clear();
    if (folder.empty()) return false;
    const std::string stem = folder + "/" + digestOf(location);
    std::string text, ignored;
    LogoRecord record;
    if (!readLimitedFile(stem + ".txt", 1 << 16, text, ignored) || !parseLogoRecord(text, record) ||
        record.address != location)
        return false;
    const bool bytesCached = record.failure.empty() && !record.digest.empty() &&
                             access((stem + ".logo").c_str(), R_OK) == 0;
    switch (planLogoFetch(&record, bytesCached, now, options)) {
        case planUseCache:
            digest = record.digest;
            return true;
        case planRememberFailure:
            return true;
        case planFetch:
        case planOffline:
            break;
    }
    return false;
}

void fetchLogos(const std::vector<std::string>& addresses, const std::string& folder,
                const CardOptions& options,
                const std::function<void(size_t, const LogoReady&)>& ready,
                const std::function<void()>& tick) {
    Fetcher fetcher(addresses, folder, options, ready);
    fetcher.run(tick);
}
