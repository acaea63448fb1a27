// quillon-bench-guide: the pieces bench/guide_bench.py times in processes of
// their own (so each has its own peak memory).
//   --generate FILE --channels N --days D [--gzip]   writes an XMLTV guide,
//       streamed, programmes of 30 minutes with a description (--bare: a
//       title only)
//   --index GUIDE INDEX [--now SECONDS]       reads GUIDE into a new INDEX
//   --query INDEX --channels N [--now SECONDS]  times now and next for pages
//       of 16 channels (median of many pages) and prints it in microseconds
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "guide/guide_index.h"

namespace {

std::string stamp(long long seconds) {
    const time_t value = static_cast<time_t>(seconds);
    struct tm parts {};
    gmtime_r(&value, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S +0000", &parts);
    return text;
}

int generate(const std::string& path, int channels, int days, bool zipped, bool bare, long long now) {
    gzFile zip = nullptr;
    std::FILE* plain = nullptr;
    if (zipped) zip = gzopen(path.c_str(), "wb6");
    else plain = std::fopen(path.c_str(), "wb");
    if (!zip && !plain) return 1;
    std::string buffer;
    auto flush = [&](bool always) {
        if (!always && buffer.size() < (1 << 20)) return;
        if (zip) gzwrite(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        else std::fwrite(buffer.data(), 1, buffer.size(), plain);
        buffer.clear();
    };
    buffer += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n<tv>\n";
    for (int c = 0; c < channels; ++c)
        buffer += "<channel id=\"channel" + std::to_string(c) + ".example\"><display-name>Channel " +
                  std::to_string(c) + "</display-name></channel>\n";
    const long long first = now - now % 86400 - 86400;
    const std::string description(420, 'd');
    for (int c = 0; c < channels; ++c) {
        for (long long t = first; t < first + days * 86400LL; t += 1800) {
            if (bare) {
                buffer += "<programme start=\"" + stamp(t) + "\" stop=\"" + stamp(t + 1800) +
                          "\" channel=\"channel" + std::to_string(c) + ".example\"><title>P" +
                          std::to_string(t / 1800 % 9973) + "</title></programme>\n";
                flush(false);
                continue;
            }
            buffer += "<programme start=\"" + stamp(t) + "\" stop=\"" + stamp(t + 1800) +
                      "\" channel=\"channel" + std::to_string(c) +
                      ".example\">\n  <title lang=\"en\">Programme " + std::to_string(t / 1800 % 9973) +
                      " on channel " + std::to_string(c) + "</title>\n  <desc lang=\"en\">" + description +
                      "</desc>\n  <category lang=\"en\">News</category>\n</programme>\n";
            flush(false);
        }
    }
    buffer += "</tv>\n";
    flush(true);
    if (zip) gzclose(zip);
    else std::fclose(plain);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode, file, index;
    int channels = 2000, days = 7;
    bool zipped = false, bare = false;
    long long now = static_cast<long long>(std::time(nullptr));
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto next = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (argument == "--generate") mode = "generate", file = next();
        else if (argument == "--index") mode = "index", file = next(), index = next();
        else if (argument == "--query") mode = "query", index = next();
        else if (argument == "--channels") channels = std::atoi(next().c_str());
        else if (argument == "--days") days = std::atoi(next().c_str());
        else if (argument == "--gzip") zipped = true;
        else if (argument == "--bare") bare = true;
        else if (argument == "--now") now = std::atoll(next().c_str());
        else {
            std::fprintf(stderr, "quillon-bench-guide: unexpected argument %s\n", argument.c_str());
            return 2;
        }
    }
    if (mode == "generate") return generate(file, channels, days, zipped, bare, now);
    if (mode == "index") {
        GuideBuildOptions options;
        options.now = now;
        const GuideBuildResult built = buildGuideIndex(index, {file}, options);
        std::printf("%zu channels, %zu of %llu programmes kept%s%s\n", built.channels,
                    built.programmes, built.read, built.error.empty() ? "" : ": ",
                    built.error.c_str());
        return built.written ? 0 : 1;
    }
    if (mode == "query") {
        std::string error;
        GuideIndexHandle handle = openGuideIndex(index, error);
        if (!handle) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::vector<double> times;
        size_t answered = 0;
        for (int page = 0; page < 400; ++page) {
            std::vector<GuideChannelKey> keys(16);
            for (int k = 0; k < 16; ++k) {
                const int c = (page * 37 + k) % channels;
                if (k % 4 == 3) keys[k].name = "Channel " + std::to_string(c) + " HD";  // by name
                else keys[k].tvgId = "channel" + std::to_string(c) + ".example";
            }
            const auto start = std::chrono::steady_clock::now();
            const std::vector<NowNext> answers = guideNowNext(*handle, keys, now);
            times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            for (const NowNext& answer : answers) answered += answer.haveNow && answer.haveNext;
        }
        std::sort(times.begin(), times.end());
        std::printf("%.1f %.1f %zu\n", times[times.size() / 2], times[times.size() * 9 / 10], answered);
        return 0;
    }
    std::fprintf(stderr, "usage: quillon-bench-guide --generate FILE | --index GUIDE INDEX | --query INDEX\n");
    return 2;
}
