#include "fetch/fetch.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sstream>

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The value of header `name` (lower case) in a header line, trimmed; false
// for other lines.
bool headerValue(const std::string& line, const std::string& name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    if (lowerCase(line.substr(0, name.size())) != name) return false;
    size_t start = name.size() + 1, end = line.size();
    while (start < end && (line[start] == ' ' || line[start] == '\t')) ++start;
    while (end > start && (line[end - 1] == '\r' || line[end - 1] == '\n' ||
                           line[end - 1] == ' ' || line[end - 1] == '\t'))
        --end;
    value = line.substr(start, end - start);
    // A validator too long to be a server's own is not kept (nor sent back).
    if (value.size() > fetchMaxValidator) value.clear();
    return true;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    FetchTransfer& transfer = *static_cast<FetchTransfer*>(user);
    const std::string line(data, size * count);
    // A redirect's answer starts a new set of headers: the validators are
    // those of the last answer.
    if (line.compare(0, 5, "HTTP/") == 0) transfer.validators = FetchValidators();
    std::string value;
    if (headerValue(line, "etag", value)) transfer.validators.etag = value;
    if (headerValue(line, "last-modified", value)) transfer.validators.lastModified = value;
    return size * count;
}

// The cap is enforced here, before a byte goes on: a server that says no
// size, or a false one, is stopped all the same.
size_t onData(char* data, size_t size, size_t count, void* user) {
    FetchTransfer& transfer = *static_cast<FetchTransfer*>(user);
    const size_t bytes = size * count;
    if (transfer.received + bytes > transfer.request.limits.maxBytes) {
        transfer.tooLarge = true;
        return 0;  // ends the transfer
    }
    transfer.received += bytes;
    if (transfer.onBody && !transfer.onBody(data, bytes)) {
        transfer.stopped = true;
        return 0;
    }
    return bytes;
}

long milliseconds(double seconds) {
    return static_cast<long>(std::max(0.001, seconds) * 1000);
}

std::string secondsText(double seconds) {
    std::ostringstream text;
    text << seconds;
    return text.str();
}

// Whether libcurl resolves names without the alarm signal (in a thread of
// its own or asynchronously).
bool resolverWithoutSignals() {
    const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
    return version && (version->features & CURL_VERSION_ASYNCHDNS) != 0;
}

}  // namespace

FetchTransfer::~FetchTransfer() {
    if (headers) curl_slist_free_all(headers);
}

void startFetching() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool plainValidator(const std::string& value) {
    return value.find_first_of("\r\n") == std::string::npos && value.size() <= fetchMaxValidator;
}

bool prepareFetch(CURL* easy, FetchTransfer& transfer, const FetchRequest& request,
                  FetchBody onBody) {
    transfer.request = request;
    transfer.onBody = std::move(onBody);
    if (transfer.headers) curl_slist_free_all(transfer.headers);
    transfer.headers = nullptr;
    transfer.error[0] = '\0';
    const FetchRequest& asked = transfer.request;
    if (!asked.accept.empty())
        transfer.headers = curl_slist_append(transfer.headers, ("Accept: " + asked.accept).c_str());
    // Validators go out only as plain one-line values.
    if (!asked.validators.etag.empty() && plainValidator(asked.validators.etag))
        transfer.headers = curl_slist_append(
            transfer.headers, ("If-None-Match: " + asked.validators.etag).c_str());
    if (!asked.validators.lastModified.empty() && plainValidator(asked.validators.lastModified))
        transfer.headers = curl_slist_append(
            transfer.headers, ("If-Modified-Since: " + asked.validators.lastModified).c_str());

    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    // Only http and https, the address and every redirect: no file:, no
    // other protocol a server could send a fetcher to. A libcurl that cannot
    // be held to that is not used.
    bool safe = curl_easy_setopt(easy, CURLOPT_URL, asked.address.c_str()) == CURLE_OK;
    safe = safe && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    safe = safe && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    safe = safe && curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                                    static_cast<curl_off_t>(asked.limits.maxBytes)) == CURLE_OK;
    if (!safe) {
        std::snprintf(transfer.error, sizeof transfer.error, "%s",
                      "the network library (libcurl) cannot be limited to http and https");
        return false;
    }
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, fetchMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(asked.limits.connectSeconds));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, milliseconds(asked.limits.totalSeconds));
    if (asked.limits.stalledSeconds > 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, asked.limits.stalledSeconds);
    }
    // With a resolver of its own thread libcurl needs no alarm signal, and
    // leaving its signals on lets it ignore SIGPIPE while it writes to a
    // connection the server closed (which would otherwise end the program).
    // A resolver that would time out by the alarm signal is never used that
    // way: the program has threads.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, resolverWithoutSignals() ? 0L : 1L);
    if (asked.decompress) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    if (asked.failOnHttpError) curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    if (!asked.userAgent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, asked.userAgent.c_str());
    if (transfer.headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    return true;
}

FetchResult finishFetch(CURL* easy, const FetchTransfer& transfer, CURLcode code) {
    FetchResult result;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
    long requested = 0;
    // A request went out: the connection was made (or an open one reused,
    // which reports no connect time).
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requested);
    result.requestSent = requested > 0;
    result.validators = transfer.validators;
    result.received = transfer.received;
    result.host = fetchHostOf(transfer.request.address);
    result.detail = transfer.error[0] ? transfer.error : curl_easy_strerror(code);
    if (transfer.tooLarge) {
        result.end = fetchTooLarge;
        return result;
    }
    if (transfer.stopped) {
        result.end = fetchStopped;
        return result;
    }
    switch (code) {
        case CURLE_OK: result.end = fetchDone; break;
        case CURLE_FILESIZE_EXCEEDED: result.end = fetchTooLarge; break;
        case CURLE_HTTP_RETURNED_ERROR: result.end = fetchHttpError; break;
        case CURLE_TOO_MANY_REDIRECTS: result.end = fetchTooManyRedirects; break;
        case CURLE_OPERATION_TIMEDOUT: result.end = fetchTimedOut; break;
        case CURLE_COULDNT_RESOLVE_HOST: result.end = fetchHostUnknown; break;
        case CURLE_COULDNT_RESOLVE_PROXY: result.end = fetchProxyUnknown; break;
        case CURLE_COULDNT_CONNECT: result.end = fetchNotConnected; break;
        case CURLE_UNSUPPORTED_PROTOCOL: result.end = fetchRefusedProtocol; break;
        case CURLE_URL_MALFORMAT: result.end = fetchBadAddress; break;
        default: result.end = fetchFailed; break;
    }
    return result;
}

FetchResult fetchOnce(const FetchRequest& request, const FetchBody& onBody) {
    startFetching();
    CURL* easy = curl_easy_init();
    if (!easy) {
        FetchResult result;
        result.end = fetchCannotStart;
        result.host = fetchHostOf(request.address);
        result.detail = "the network library (libcurl) cannot start";
        return result;
    }
    FetchTransfer transfer;
    FetchResult result;
    if (!prepareFetch(easy, transfer, request, onBody)) {
        result.end = fetchCannotStart;
        result.host = fetchHostOf(request.address);
        result.detail = transfer.error;
    } else {
        result = finishFetch(easy, transfer, curl_easy_perform(easy));
    }
    curl_easy_cleanup(easy);
    return result;
}

std::string fetchReason(const FetchRequest& request, const FetchResult& result) {
    switch (result.end) {
        case fetchDone:
        case fetchHttpError:
            if (result.end == fetchDone &&
                ((result.status >= 200 && result.status <= 299) || result.status == 304))
                return std::string();
            return "the server answered " + std::to_string(result.status);
        case fetchStopped: return "stopped by its receiver";
        case fetchTooLarge:
            return "larger than " + std::to_string(request.limits.maxBytes) + " bytes";
        case fetchTooManyRedirects:
            return "too many redirects (more than " + std::to_string(fetchMaxRedirects) + ")";
        case fetchTimedOut:
            if (!result.requestSent)
                return "no answer from " + result.host + " within " +
                       secondsText(request.limits.connectSeconds) + " s";
            return "the server took longer than " + secondsText(request.limits.totalSeconds) + " s";
        case fetchHostUnknown: return "cannot find the server " + result.host;
        case fetchProxyUnknown: return "cannot find the proxy server (" + result.detail + ")";
        case fetchNotConnected: return "cannot connect to " + result.host;
        case fetchRefusedProtocol:
            return result.requestSent
                       ? "redirected to an address that is neither http nor https"
                       : "the address is neither http nor https";
        case fetchBadAddress: return "not a valid address";
        case fetchCannotStart: return result.detail;
        case fetchFailed: break;
    }
    return "the fetch failed: " + result.detail;
}

std::string fetchHostOf(const std::string& address) {
    std::string host;
    CURLU* url = curl_url();
    char* part = nullptr;
    if (url && curl_url_set(url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &part, 0) == CURLUE_OK && part)
        host = part;
    curl_free(part);
    curl_url_cleanup(url);
    return lowerCase(host);
}
