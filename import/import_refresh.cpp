#include "import/import_refresh.h"

#include "import/import.h"

namespace {

// Limits of every playlist download: a server that is slow, endless or
// sends us in circles is given up on with a plain reason.
constexpr double connectSeconds = 20;
constexpr long stalledSeconds = 60;
constexpr double totalSeconds = 30 * 60;

std::string sizeInWords(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

ConditionalFetch fetchPlaylistIfChanged(const std::string& address, const FetchValidators& sent,
                                        const PlaylistSinks& sinks, const std::function<void()>& chunkRead,
                                        FetchValidators& received, std::string& error) {
    FetchRequest request;
    request.address = address;
    request.limits.maxBytes = maxPlaylistBytes;
    request.limits.connectSeconds = connectSeconds;
    request.limits.totalSeconds = totalSeconds;
    request.limits.stalledSeconds = stalledSeconds;
    request.validators = sent;
    request.userAgent = "quillon-import";
    request.decompress = true;
    request.failOnHttpError = true;
    PlaylistReader reader;
    const FetchResult result = fetchOnce(request, [&](const char* data, size_t bytes) {
        readPlaylistChunk(reader, data, bytes, sinks);
        if (chunkRead) chunkRead();
        // The receiver has all it takes: the download ends here.
        return !(sinks.full && sinks.full());
    });
    received = result.validators;
    if (result.end == fetchDone && result.status == 304 && result.received == 0) {
        // A server may leave the validators out of its 304.
        if (received.etag.empty()) received.etag = sent.etag;
        if (received.lastModified.empty()) received.lastModified = sent.lastModified;
        return playlistNotModified;
    }
    if (result.end == fetchDone || result.end == fetchStopped) {
        finishPlaylist(reader, sinks);
        return playlistFetched;
    }
    switch (result.end) {
        case fetchTooLarge:
            error = "the playlist at " + address + " is larger than " + sizeInWords(maxPlaylistBytes);
            break;
        case fetchHttpError:
            error = "the server answered " + address + " with status " + std::to_string(result.status);
            break;
        case fetchTooManyRedirects:
            error = address + " redirects more than " + std::to_string(fetchMaxRedirects) + " times";
            break;
        case fetchTimedOut:
            error = "the download of " + address + " took too long (" + result.detail + ")";
            break;
        case fetchCannotStart:
            error = "cannot start a download";
            break;
        default:
            error = "cannot download " + address + ": " + result.detail;
            break;
    }
    return playlistFetchFailed;
}
