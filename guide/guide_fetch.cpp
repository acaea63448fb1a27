#include "guide/guide_root.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>

#include "cards/cards_cache.h"

namespace {

constexpr long maxRedirects = 5;
const char* const recordHeading = "quillon guide record 1";

struct Download {
    int fd = -1;
    unsigned long long received = 0;
    unsigned long long limit = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    Download& download = *static_cast<Download*>(user);
    const size_t bytes = size * count;
    if (download.received + bytes > download.limit) {
        download.tooLarge = true;
        return 0;
    }
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = write(download.fd, data + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            download.writeFailed = true;
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    download.received += bytes;
    return bytes;
}

struct Validators {
    std::string etag, modified;
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    Validators& validators = *static_cast<Validators*>(user);
    const std::string line(data, size * count);
    auto value = [&](const char* name) -> std::optional<std::string> {
        const size_t n = std::strlen(name);
        if (line.size() <= n || strncasecmp(line.c_str(), name, n) != 0) return std::nullopt;
        std::string v = line.substr(n);
        const size_t first = v.find_first_not_of(" \t");
        const size_t last = v.find_last_not_of(" \t\r\n");
        if (first == std::string::npos || v.size() > 1024) return std::string();
        return v.substr(first, last - first + 1);
    };
    if (line.compare(0, 5, "HTTP/") == 0) validators = Validators();
    if (auto etag = value("etag:")) validators.etag = *etag;
    if (auto modified = value("last-modified:")) validators.modified = *modified;
    return size * count;
}

std::string recordText(const std::string& address, const Validators& validators, long long checked) {
    return std::string(recordHeading) + "\naddress\t" + address + "\netag\t" + validators.etag +
           "\nmodified\t" + validators.modified + "\nchecked\t" + std::to_string(checked) + "\n";
}

bool parseRecord(const std::string& text, const std::string& address, Validators& validators,
                 long long& checked) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != recordHeading) return false;
    bool sameAddress = false;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
        if (key == "address") sameAddress = value == address;
        if (key == "etag") validators.etag = value;
        if (key == "modified") validators.modified = value;
        if (key == "checked") checked = std::atoll(value.c_str());
    }
    return sameAddress;
}

bool isServerAddress(const std::string& source) {
    return strncasecmp(source.c_str(), "http://", 7) == 0 ||
           strncasecmp(source.c_str(), "https://", 8) == 0;
}

}  // namespace

GuideFile fetchGuide(const std::string& source, const std::string& folder,
                     const GuideFetchOptions& options) {
    GuideFile file;
    if (!isServerAddress(source)) {
        if (strncasecmp(source.c_str(), "file://", 7) == 0) file.path = source.substr(7);
        else if (source.find("://") != std::string::npos) {
            file.error = "guides are read from http, https or a local file, not from " + source;
            return file;
        } else file.path = source;
        file.ready = true;
        return file;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const std::string name = folder + "/" + digestOf(source);
    const std::string bytesPath = name + ".data", recordPath = name + ".record";
    Validators known;
    long long checked = 0;
    std::string recordBytes, ignored;
    const bool haveCopy = readLimitedFile(recordPath, 1 << 16, recordBytes, ignored) &&
                          parseRecord(recordBytes, source, known, checked) &&
                          access(bytesPath.c_str(), R_OK) == 0;
    if (!haveCopy) known = Validators();

    const std::string partial = name + ".part." + std::to_string(getpid());
    Download download;
    download.limit = options.maxBytes;
    download.fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (download.fd < 0) {
        file.error = "cannot write the guide to " + partial + ": " + std::strerror(errno);
        return file;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        close(download.fd);
        std::remove(partial.c_str());
        file.error = "cannot start a download";
        return file;
    }
    Validators received;
    char message[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    if (!known.etag.empty()) headers = curl_slist_append(headers, ("If-None-Match: " + known.etag).c_str());
    if (!known.modified.empty())
        headers = curl_slist_append(headers, ("If-Modified-Since: " + known.modified).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, source.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.connectSeconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(options.totalSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "quillon-guide");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &received);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    const bool flushed = fsync(download.fd) == 0;
    close(download.fd);

    std::string problem;
    if (result == CURLE_OK && status == 304 && haveCopy) {
        std::remove(partial.c_str());
        file.path = bytesPath;
        file.ready = true;
        file.notModified = true;
        replaceFile(recordPath, recordText(source, known, secondsNow()), ignored);
        return file;
    }
    if (result == CURLE_OK && !download.writeFailed && flushed) {
        if (std::rename(partial.c_str(), bytesPath.c_str()) == 0) {
            replaceFile(recordPath, recordText(source, received, secondsNow()), ignored);
            file.path = bytesPath;
            file.ready = true;
            file.fetched = true;
            return file;
        }
        problem = "cannot keep the guide in " + bytesPath + ": " + std::strerror(errno);
    } else if (download.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        problem = "the guide at " + source + " is larger than " +
                  std::to_string(options.maxBytes >> 20) + " MiB";
    } else if (download.writeFailed || !flushed) {
        problem = "cannot write the guide to " + partial + " (is the disk full?)";
    } else if (result == CURLE_HTTP_RETURNED_ERROR) {
        problem = "the server answered " + source + " with status " + std::to_string(status);
    } else {
        problem = "cannot download " + source + ": " +
                  (message[0] ? std::string(message) : curl_easy_strerror(result));
    }
    std::remove(partial.c_str());
    file.error = problem;
    if (haveCopy) {
        // The copy fetched before serves until the server answers again.
        file.path = bytesPath;
        file.ready = true;
    }
    return file;
}
