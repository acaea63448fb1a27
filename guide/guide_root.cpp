#include "guide/guide_root.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "cards/cards_cache.h"
#include "dataroot/data_root.h"

namespace fs = std::filesystem;

namespace {

const char* const setupHeading = "quillon guide 1";

// A field of a tab-separated line: tabs and line ends become spaces.
std::string field(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return parts;
        start = tab + 1;
    }
}

std::string setupPath(const std::string& folder) {
    return (fs::path(folder) / rootFolderName / guideSetupFile).string();
}

}  // namespace

GuideSetup guideSetupFor(const std::vector<PlaylistEntry>& entries,
                         const std::vector<std::string>& sources, double refreshHours) {
    GuideSetup setup;
    setup.refreshHours = refreshHours;
    setup.sources = sources;
    setup.channels.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        GuideChannelEntry channel;
        channel.number = static_cast<int>(i + 1);
        channel.key.tvgId = entries[i].tvgId;
        channel.key.name = entries[i].name;
        channel.key.shift = guideShiftSeconds(entries[i].tvgShift);
        channel.logo = entries[i].logo;
        // A logo in a local file is found from anywhere later.
        std::error_code code;
        if (!channel.logo.empty() && channel.logo.find("://") == std::string::npos &&
            channel.logo[0] != '/')
            channel.logo = fs::absolute(channel.logo, code).string();
        setup.channels.push_back(std::move(channel));
    }
    return setup;
}

std::string formatGuideSetup(const GuideSetup& setup) {
    std::ostringstream out;
    out << setupHeading << "\nrefresh\t" << setup.refreshHours << "\n";
    for (const std::string& source : setup.sources) out << "source\t" << field(source) << "\n";
    for (const GuideChannelEntry& channel : setup.channels)
        out << "channel\t" << channel.number << "\t" << field(channel.key.tvgId) << "\t"
            << channel.key.shift << "\t" << field(channel.logo) << "\t" << field(channel.key.name)
            << "\n";
    return out.str();
}

bool parseGuideSetup(const std::string& text, GuideSetup& setup, std::string& error) {
    setup = GuideSetup();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != setupHeading) {
        error = "it does not start with \"" + std::string(setupHeading) + "\"";
        return false;
    }
    size_t number = 1;
    while (std::getline(lines, line)) {
        ++number;
        const std::vector<std::string> parts = splitTabs(line);
        if (parts[0] == "refresh" && parts.size() == 2) {
            const double hours = std::atof(parts[1].c_str());
            if (std::isfinite(hours) && hours > 0 && hours <= 24 * 365) setup.refreshHours = hours;
        } else if (parts[0] == "source" && parts.size() == 2 && !parts[1].empty()) {
            if (setup.sources.size() < maxGuideAddresses) setup.sources.push_back(parts[1]);
        } else if (parts[0] == "channel" && parts.size() == 6) {
            GuideChannelEntry channel;
            channel.number = std::atoi(parts[1].c_str());
            channel.key.tvgId = parts[2];
            channel.key.shift = std::clamp(std::atoll(parts[3].c_str()), -86400LL, 86400LL);
            channel.logo = parts[4];
            channel.key.name = parts[5];
            if (channel.number > 0) setup.channels.push_back(std::move(channel));
        } else if (!line.empty()) {
            error = "line " + std::to_string(number) + " cannot be read";
            return false;
        }
    }
    return true;
}

bool writeGuideSetup(const std::string& folder, const GuideSetup& setup, std::string& error) {
    const std::string path = setupPath(folder);
    if (setup.sources.empty()) {
        std::error_code code;
        fs::remove(path, code);
        if (code) error = "cannot remove " + path + ": " + code.message();
        return !code;
    }
    return replaceFile(path, formatGuideSetup(setup), error);
}

bool readGuideSetup(const std::string& folder, GuideSetup& setup, std::string& error) {
    const std::string path = setupPath(folder);
    std::error_code code;
    if (!fs::exists(fs::symlink_status(path, code))) {
        error.clear();
        return false;
    }
    std::string text;
    if (!readLimitedFile(path, maxGuideSetupBytes, text, error)) return false;
    if (!parseGuideSetup(text, setup, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string guideCacheFolder(const std::string& cacheFolder) {
    const std::string base = cacheFolder.empty() ? defaultCardCacheFolder() : cacheFolder;
    return base + "/guides";
}

std::string guideIndexPath(const std::string& cacheFolder, const std::string& folder) {
    std::error_code code;
    fs::path full = fs::canonical(folder, code);
    if (code) full = fs::absolute(folder, code);
    return guideCacheFolder(cacheFolder) + "/index-" + digestOf(full.string()).substr(0, 32) + ".sqlite";
}

GuideRefresh refreshGuide(const std::string& folder, const std::string& cacheFolder,
                          const GuideSetup& setup, long long now) {
    GuideRefresh refresh;
    constexpr size_t keptMessages = 50;
    size_t dropped = 0;
    auto say = [&](const std::string& line) {
        if (refresh.messages.size() < keptMessages) refresh.messages.push_back(line);
        else ++dropped;
    };
    const std::string cache = guideCacheFolder(cacheFolder);
    std::error_code code;
    fs::create_directories(cache, code);
    if (code) {
        say("cannot make the guide cache " + cache + ": " + code.message());
        return refresh;
    }
    std::vector<std::string> files, names;
    for (const std::string& source : setup.sources) {
        const GuideFile file = fetchGuide(source, cache);
        if (!file.error.empty())
            say("guide " + source + ": " + file.error +
                (file.ready ? " (the copy fetched before is used)" : ""));
        if (file.ready) {
            files.push_back(file.path);
            names.push_back(source);
        }
    }
    if (files.empty()) {
        say("no guide could be fetched; the previous guide is kept");
        return refresh;
    }
    GuideBuildOptions options;
    options.now = now;
    std::vector<size_t> perFile(files.size());
    refresh.build = buildGuideIndex(
        guideIndexPath(cacheFolder, folder), files, options,
        [&](size_t file, const GuideProblem& problem) {
            if (perFile[file]++ >= 20) return;  // a junk guide would fill the screen
            say("guide " + names[file] +
                (problem.line ? ", line " + std::to_string(problem.line) : std::string()) + ": " +
                problem.reason);
        });
    refresh.indexWritten = refresh.build.written;
    if (!refresh.build.error.empty()) say(refresh.build.error);
    if (dropped > 0) refresh.messages.push_back("(" + std::to_string(dropped) + " more messages)");
    return refresh;
}

std::string clockTime(long long seconds) {
    const time_t value = static_cast<time_t>(seconds);
    struct tm local {};
    char text[16] = "";
    if (localtime_r(&value, &local)) std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

CardProgramme cardProgrammeFor(const NowNext& answer, long long now) {
    CardProgramme programme;
    if (!answer.haveNow && !answer.haveNext) return programme;
    programme.shown = true;
    if (answer.haveNow) {
        programme.title = answer.now.title;
        programme.times = clockTime(answer.now.start) + "\xE2\x80\x93" + clockTime(answer.now.stop);
        const double length = static_cast<double>(answer.now.stop - answer.now.start);
        programme.progress = length > 0 ? std::clamp((now - answer.now.start) / length, 0.0, 1.0) : 0;
    }
    if (answer.haveNext) {
        programme.nextTitle = answer.next.title;
        programme.nextTime = clockTime(answer.next.start);
    }
    return programme;
}

std::vector<std::string> nowNextLines(const GuideSetup& setup, GuideIndex& index, long long now) {
    std::vector<std::string> lines;
    lines.reserve(setup.channels.size());
    constexpr size_t batch = 256;
    for (size_t first = 0; first < setup.channels.size(); first += batch) {
        std::vector<GuideChannelKey> keys;
        for (size_t i = first; i < std::min(setup.channels.size(), first + batch); ++i)
            keys.push_back(setup.channels[i].key);
        const std::vector<NowNext> answers = guideNowNext(index, keys, now);
        for (size_t i = 0; i < answers.size(); ++i) {
            const GuideChannelEntry& channel = setup.channels[first + i];
            const NowNext& answer = answers[i];
            std::string line = std::to_string(channel.number) + "\t" + field(channel.key.name) + "\t";
            if (answer.haveNow)
                line += field(answer.now.title) + "\t" + clockTime(answer.now.start) + "\t" +
                        clockTime(answer.now.stop);
            else
                line += "\t\t";
            line += "\t" + (answer.haveNext ? field(answer.next.title) : std::string());
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

std::string catalogueCardPath(const std::string& folder, int number) {
    return (fs::path(folder) / rootFolderName / "1" / (std::to_string(number) + ".Quillon")).string();
}

std::vector<CardRequest> guideCardRequests(const std::string& folder, const GuideSetup& setup,
                                           GuideIndex& index, const std::vector<size_t>& channels,
                                           long long now) {
    std::vector<GuideChannelKey> keys;
    keys.reserve(channels.size());
    for (size_t place : channels) keys.push_back(setup.channels.at(place).key);
    const std::vector<NowNext> answers = guideNowNext(index, keys, now);
    std::vector<CardRequest> requests(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        const GuideChannelEntry& channel = setup.channels[channels[i]];
        requests[i].name = channel.key.name;
        requests[i].number = channel.number;
        requests[i].logo = channel.logo;
        requests[i].output = catalogueCardPath(folder, channel.number);
        requests[i].programme = cardProgrammeFor(answers[i], now);
    }
    return requests;
}

GuideRenewal refreshGuideAndCards(const std::string& folder, const std::string& cacheFolder,
                                  const GuideSetup& setup, long long now,
                                  const CardOptions& options) {
    GuideRenewal renewal;
    renewal.refresh = refreshGuide(folder, cacheFolder, setup, now);
    std::string error;
    GuideIndexHandle index = openGuideIndex(guideIndexPath(cacheFolder, folder), error);
    if (!index || guideIndexBuiltAt(*index) == 0) return renewal;
    std::vector<size_t> places(setup.channels.size());
    for (size_t i = 0; i < places.size(); ++i) places[i] = i;
    std::vector<CardRequest> requests = guideCardRequests(folder, setup, *index, places, now);
    requests.erase(std::remove_if(requests.begin(), requests.end(),
                                  [](const CardRequest& request) { return !request.programme.shown; }),
                   requests.end());
    CardOptions cardOptions = options;
    if (cardOptions.cacheFolder.empty()) cardOptions.cacheFolder = cacheFolder;
    const std::vector<CardResult> results = makeCards(requests, cardOptions);
    for (const CardResult& result : results) renewal.cardsShowing += result.written ? 1 : 0;
    return renewal;
}

bool nowNextReport(const std::string& folder, const std::string& cacheFolder, long long now,
                   std::vector<std::string>& lines, std::string& error) {
    GuideSetup setup;
    if (!readGuideSetup(folder, setup, error)) {
        if (error.empty())
            error = "the catalogue was imported without a programme guide (quillon-import "
                    "--guide FILE|URL adds one)";
        return false;
    }
    GuideIndexHandle index = openGuideIndex(guideIndexPath(cacheFolder, folder), error);
    if (!index || guideIndexBuiltAt(*index) == 0) {
        error = "the guide has not been read yet; quillon-guide --refresh reads it";
        return false;
    }
    lines = nowNextLines(setup, *index, now);
    return true;
}
