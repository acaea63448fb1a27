// Live pictures' settings and records in the data root, shared by the
// viewer (which starts the companion and switches it), the companion
// (quillon-live, which keeps the pictures) and the checker.
//
//   VESTRALUME/live.txt           the settings, one "<name> <value>" a line:
//                                   pictures on|off    (on when missing)
//                                   interval <seconds> (60; 5 to 86400)
//                                   connections <n>    (2; 1 to 8)
//                                   sweep on|off       (off)
//   VESTRALUME/live/<L>-<N>.txt   per channel N of list L: its status
//   VESTRALUME/live/<L>-<N>.jpg   per channel: its original card, kept so
//                                 that it can always come back
#pragma once

#include <optional>
#include <string>

struct LiveSettings {
    bool pictures = true;
    int intervalSeconds = 60;
    int connections = 2;
    bool sweep = false;
};

// "VESTRALUME/live.txt"
extern const std::string liveSettingsFile;
// "VESTRALUME/live/"
extern const std::string liveFolder;

// The settings in the text of live.txt; unknown lines and values out of
// range are ignored (the default stays).
LiveSettings parseLiveSettings(const std::string& text);

// The text of live.txt for `settings`.
std::string formatLiveSettings(const LiveSettings& settings);

// "VESTRALUME/live/<list>-<channel>.txt" and ".jpg"
std::string liveStatusPath(int list, int channel);
std::string liveCardPath(int list, int channel);

// A channel's status: "live" while its picture is shown, otherwise the
// reason it has none ("refused", "timed out", "not found", "no video", "not
// a stream"); and when it was last tried (seconds since 1970).
struct LiveStatus {
    std::string state;
    long long lastTry = 0;
};

// "<state>\t<last try>\n"
std::string formatLiveStatus(const LiveStatus& status);

// The status in a status file's text; none when it is not one.
std::optional<LiveStatus> parseLiveStatus(const std::string& text);

// Whether `state` is one a status file may hold.
bool isLiveState(const std::string& state);
