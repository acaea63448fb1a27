// Reading a playlist from a file, standard input or an http(s) address,
// streaming it through the playlist reader as it comes.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "import/import.h"

namespace {

// Limits of a download: a playlist server that is slow, endless or sends
// us in circles is given up on with a plain reason.
constexpr long connectSeconds = 20;
constexpr long stalledSeconds = 60;       // slower than 1 byte a second for this long
constexpr long totalSeconds = 30 * 60;
constexpr long maxRedirects = 5;

struct Download {
    PlaylistReader reader;
    const PlaylistSinks* sinks = nullptr;
    const std::function<void()>* chunkRead = nullptr;
    size_t received = 0;
    bool tooLarge = false;
    bool stopped = false;  // the receiver wanted no more
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    Download& download = *static_cast<Download*>(user);
    const size_t bytes = size * count;
    if (download.received + bytes > maxPlaylistBytes) {
        download.tooLarge = true;
        return 0;  // ends the transfer
    }
    download.received += bytes;
    readPlaylistChunk(download.reader, data, bytes, *download.sinks);
    if (*download.chunkRead) (*download.chunkRead)();
    if (download.sinks->full && download.sinks->full()) {
        download.stopped = true;
        return 0;  // ends the transfer: the receiver has all it takes
    }
    return bytes;
}

std::string sizeInWords(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

bool fetchPlaylist(const std::string& address, const PlaylistSinks& sinks,
                   const std::function<void()>& chunkRead, std::string& error) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "cannot start a download";
        return false;
    }
    Download download;
    download.sinks = &sinks;
    download.chunkRead = &chunkRead;
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
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // gzip and the like, decoded
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "quillon-import");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (result == CURLE_OK || download.stopped) {
        finishPlaylist(download.reader, sinks);
        return true;
    }
    if (download.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
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
    return false;
}

// Reads a file (or standard input) in chunks.
bool readStream(std::FILE* file, const std::string& name, const PlaylistSinks& sinks,
                const std::function<void()>& chunkRead, std::string& error) {
    PlaylistReader reader;
    std::vector<char> buffer(1 << 16);
    size_t total = 0;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
        if (n == 0) {
            if (std::ferror(file)) {
                error = "cannot read " + name + ": " + std::strerror(errno);
                return false;
            }
            break;
        }
        total += n;
        if (total > maxPlaylistBytes) {
            error = name + " is larger than " + sizeInWords(maxPlaylistBytes) +
                    "; that is no playlist";
            return false;
        }
        readPlaylistChunk(reader, buffer.data(), n, sinks);
        if (chunkRead) chunkRead();
        if (sinks.full && sinks.full()) break;
    }
    finishPlaylist(reader, sinks);
    return true;
}

}  // namespace

bool isPlaylistAddress(const std::string& source) {
    auto startsWith = [&](const char* prefix) {
        const size_t length = std::strlen(prefix);
        if (source.size() < length) return false;
        for (size_t i = 0; i < length; ++i)
            if (std::tolower(static_cast<unsigned char>(source[i])) != prefix[i]) return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

bool readPlaylistSource(const std::string& source, const PlaylistSinks& sinks,
                        const std::function<void()>& chunkRead, std::string& error) {
    if (isPlaylistAddress(source)) return fetchPlaylist(source, sinks, chunkRead, error);
    if (source == "-") return readStream(stdin, "standard input", sinks, chunkRead, error);
    std::error_code code;
    if (std::filesystem::is_directory(source, code)) {
        error = source + " is a folder, not a playlist";
        return false;
    }
    // Opened without blocking, and read only when it is a regular file: a
    // FIFO without a writer, a device or a socket would hold the import, and
    // the data root's lock with it, for as long as it pleases.
    const int descriptor = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot open the playlist " + source + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        error = source + " is not a regular file (a FIFO, device or socket); give a playlist file, "
                "- for standard input, or an http(s) address";
        return false;
    }
    std::FILE* file = fdopen(descriptor, "rb");
    if (!file) {
        close(descriptor);
        error = "cannot open the playlist " + source + ": " + std::strerror(errno);
        return false;
    }
    const bool read = readStream(file, source, sinks, chunkRead, error);
    std::fclose(file);
    return read;
}
