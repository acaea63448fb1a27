#include "dataroot/live_settings.h"

#include <sstream>

#include "dataroot/data_root.h"

const std::string liveSettingsFile = std::string(rootFolderName) + "/live.txt";
const std::string liveFolder = std::string(rootFolderName) + "/live/";

namespace {

std::optional<bool> onOrOff(const std::string& value) {
    if (value == "on") return true;
    if (value == "off") return false;
    return std::nullopt;
}

std::optional<int> numberWithin(const std::string& value, int low, int high) {
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int number = std::stoi(value);
    if (number < low || number > high) return std::nullopt;
    return number;
}

}  // namespace

LiveSettings parseLiveSettings(const std::string& text) {
    LiveSettings settings;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, value, extra;
        if (!(words >> name >> value) || (words >> extra) || name[0] == '#') continue;
        if (name == "pictures") {
            if (auto on = onOrOff(value)) settings.pictures = *on;
        } else if (name == "sweep") {
            if (auto on = onOrOff(value)) settings.sweep = *on;
        } else if (name == "interval") {
            if (auto seconds = numberWithin(value, 5, 86400)) settings.intervalSeconds = *seconds;
        } else if (name == "connections") {
            if (auto count = numberWithin(value, 1, 8)) settings.connections = *count;
        }
    }
    return settings;
}

std::string formatLiveSettings(const LiveSettings& settings) {
    return "# Live pictures on the wall (L switches them on the wall)\n"
           "pictures " + std::string(settings.pictures ? "on" : "off") + "\n" +
           "interval " + std::to_string(settings.intervalSeconds) + "\n" +
           "connections " + std::to_string(settings.connections) + "\n" +
           "sweep " + std::string(settings.sweep ? "on" : "off") + "\n";
}

std::string liveStatusPath(int list, int channel) {
    return liveFolder + std::to_string(list) + "-" + std::to_string(channel) + ".txt";
}

std::string liveCardPath(int list, int channel) {
    return liveFolder + std::to_string(list) + "-" + std::to_string(channel) + ".jpg";
}

bool isLiveState(const std::string& state) {
    for (const char* known : {"live", "refused", "timed out", "not found", "no video", "not a stream"})
        if (state == known) return true;
    return false;
}

std::string formatLiveStatus(const LiveStatus& status) {
    return status.state + "\t" + std::to_string(status.lastTry) + "\n";
}

std::optional<LiveStatus> parseLiveStatus(const std::string& text) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const std::string line = text.substr(0, text.size() - 1);
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\n') != std::string::npos) return std::nullopt;
    LiveStatus status;
    status.state = line.substr(0, tab);
    const std::string time = line.substr(tab + 1);
    if (!isLiveState(status.state) || time.empty() || time.size() > 18 ||
        time.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    status.lastTry = std::stoll(time);
    return status;
}
