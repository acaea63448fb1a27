#include "guide/guide_root.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "cards/cards_cache.h"
#include "fetch/fetch.h"

namespace {

const char* const recordHeading = "quillon guide record 1";

struct Download {
    int fd = -1;
    bool writeFailed = false;
};

// Writes the body to the file as it comes; false when the disk refuses it.
bool writeAll(Download& download, const char* data, size_t bytes) {
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = write(download.fd, data + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            download.writeFailed = true;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

using Validators = FetchValidators;

std::string recordText(const std::string& address, const Validators& validators, long long checked) {
    return std::string(recordHeading) + "\naddress\t" + address + "\netag\t" + validators.etag +
           "\nmodified\t" + validators.lastModified + "\nchecked\t" + std::to_string(checked) + "\n";
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
        if (key == "modified") validators.lastModified = value;
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
    download.fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (download.fd < 0) {
        file.error = "cannot write the guide to " + partial + ": " + std::strerror(errno);
        return file;
    }
    FetchRequest request;
    request.address = source;
    request.limits.maxBytes = options.maxBytes;
    request.limits.connectSeconds = options.connectSeconds;
    request.limits.totalSeconds = options.totalSeconds;
    request.limits.stalledSeconds = 30;
    request.validators = known;
    request.userAgent = "quillon-guide";
    request.failOnHttpError = true;
    // The guide is kept as the server sends it: a gzip or xz file is
    // decompressed while it is read, where its bytes are counted.
    const FetchResult result = fetchOnce(
        request, [&](const char* data, size_t bytes) { return writeAll(download, data, bytes); });
    const bool flushed = fsync(download.fd) == 0;
    close(download.fd);
    const Validators& received = result.validators;
    const long status = result.status;

    std::string problem;
    if (result.end == fetchDone && status == 304 && haveCopy) {
        std::remove(partial.c_str());
        file.path = bytesPath;
        file.ready = true;
        file.notModified = true;
        replaceFile(recordPath, recordText(source, known, secondsNow()), ignored);
        return file;
    }
    if (result.end == fetchDone && !download.writeFailed && flushed) {
        if (std::rename(partial.c_str(), bytesPath.c_str()) == 0) {
            replaceFile(recordPath, recordText(source, received, secondsNow()), ignored);
            file.path = bytesPath;
            file.ready = true;
            file.fetched = true;
            return file;
        }
        problem = "cannot keep the guide in " + bytesPath + ": " + std::strerror(errno);
    } else if (result.end == fetchTooLarge) {
        problem = "the guide at " + source + " is larger than " +
                  std::to_string(options.maxBytes >> 20) + " MiB";
    } else if (download.writeFailed || !flushed) {
        problem = "cannot write the guide to " + partial + " (is the disk full?)";
    } else if (result.end == fetchHttpError) {
        problem = "the server answered " + source + " with status " + std::to_string(status);
    } else if (result.end == fetchCannotStart) {
        problem = "cannot start a download";
    } else {
        problem = "cannot download " + source + ": " + result.detail;
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
