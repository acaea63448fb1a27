// Reading a playlist from a file, standard input or an http(s) address,
// streaming it through the playlist reader as it comes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "import/import.h"
#include "import/import_refresh.h"

namespace {

std::string sizeInWords(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// A download is the conditional one of a refresh without validators: the
// same limits, the same reading as it comes, the same reasons.
bool fetchPlaylist(const std::string& address, const PlaylistSinks& sinks,
                   const std::function<void()>& chunkRead, std::string& error) {
    FetchValidators received;
    return fetchPlaylistIfChanged(address, FetchValidators(), sinks, chunkRead, received, error) ==
           playlistFetched;
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
