#include "import/import_refresh.h"

#include <curl/curl.h>

#include <mutex>

#include "import/import.h"

namespace {

// Limits of every playlist download: a server that is slow, endless or
// sends us in circles is given up on with a plain reason.
constexpr long connectSeconds = 20;
constexpr long stalledSeconds = 60;
constexpr long totalSeconds = 30 * 60;
constexpr long maxRedirects = 5;
constexpr size_t maxHeaderValue = 1024;

struct Transfer {
    PlaylistReader reader;
    const PlaylistSinks* sinks = nullptr;
    const std::function<void()>* chunkRead = nullptr;
    size_t received = 0;
    bool tooLarge = false;
    bool any = false;      // a byte of the body came
    bool stopped = false;  // the receiver wanted no more
    FetchValidators validators;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer.received + bytes > maxPlaylistBytes) {
        transfer.tooLarge = true;
        return 0;
    }
    transfer.received += bytes;
    transfer.any = true;
    readPlaylistChunk(transfer.reader, data, bytes, *transfer.sinks);
    if (*transfer.chunkRead) (*transfer.chunkRead)();
    if (transfer.sinks->full && transfer.sinks->full()) {
        transfer.stopped = true;
        return 0;  // ends the transfer: the receiver has all it takes
    }
    return bytes;
}

// The value of header `name` in a header line, trimmed; false for other lines.
bool headerValue(const std::string& line, const std::string& name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    size_t start = name.size() + 1, end = line.size();
    while (start < end && (line[start] == ' ' || line[start] == '\t')) ++start;
    while (end > start && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ')) --end;
    value = line.substr(start, std::min(end - start, maxHeaderValue));
    return true;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const std::string line(data, size * count);
    // A redirect's answer starts a new set of headers.
    if (line.compare(0, 5, "HTTP/") == 0) transfer.validators = FetchValidators();
    std::string value;
    if (headerValue(line, "etag", value)) transfer.validators.etag = value;
    if (headerValue(line, "last-modified", value)) transfer.validators.lastModified = value;
    return size * count;
}

std::string sizeInWords(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

ConditionalFetch fetchPlaylistIfChanged(const std::string& address, const FetchValidators& sent,
                                        const PlaylistSinks& sinks, const std::function<void()>& chunkRead,
                                        FetchValidators& received, std::string& error) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "cannot start a download";
        return playlistFetchFailed;
    }
    Transfer transfer;
    transfer.sinks = &sinks;
    transfer.chunkRead = &chunkRead;
    curl_slist* headers = nullptr;
    // Validators go out only as the server sent them, one line each.
    auto plain = [](const std::string& text) {
        return text.find_first_of("\r\n") == std::string::npos && text.size() <= maxHeaderValue;
    };
    if (!sent.etag.empty() && plain(sent.etag))
        headers = curl_slist_append(headers, ("If-None-Match: " + sent.etag).c_str());
    if (!sent.lastModified.empty() && plain(sent.lastModified))
        headers = curl_slist_append(headers, ("If-Modified-Since: " + sent.lastModified).c_str());
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stalledSeconds);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxPlaylistBytes));
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "quillon-import");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    received = transfer.validators;
    if (result == CURLE_OK && status == 304 && !transfer.any) {
        // A server may leave the validators out of its 304.
        if (received.etag.empty()) received.etag = sent.etag;
        if (received.lastModified.empty()) received.lastModified = sent.lastModified;
        return playlistNotModified;
    }
    if (result == CURLE_OK || transfer.stopped) {
        finishPlaylist(transfer.reader, sinks);
        return playlistFetched;
    }
    if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
        error = "the playlist at " + address + " is larger than " + sizeInWords(maxPlaylistBytes);
    else if (result == CURLE_HTTP_RETURNED_ERROR)
        error = "the server answered " + address + " with status " + std::to_string(status);
    else if (result == CURLE_TOO_MANY_REDIRECTS)
        error = address + " redirects more than " + std::to_string(maxRedirects) + " times";
    else if (result == CURLE_OPERATION_TIMEDOUT)
        error = "the download of " + address + " took too long (" +
                (message[0] ? std::string(message) : curl_easy_strerror(result)) + ")";
    else
        error = "cannot download " + address + ": " +
                (message[0] ? std::string(message) : curl_easy_strerror(result));
    return playlistFetchFailed;
}
