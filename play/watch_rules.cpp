#include "play/watch_rules.h"

bool sameSpot(const SelectionSpot& a, const SelectionSpot& b) {
    return a.list == b.list && a.pageBuild == b.pageBuild && a.tile == b.tile;
}

bool noteSelection(PreviewTimer& timer, const SelectionSpot& spot, long long now) {
    if (timer.seen && sameSpot(timer.spot, spot)) return false;
    const bool moved = timer.seen;
    timer.spot = spot;
    timer.since = now;
    timer.seen = true;
    timer.started = false;
    return moved;
}

bool previewDue(const PreviewTimer& timer, long long now) {
    return timer.seen && !timer.started && timer.spot.tile != 0 && now - timer.since >= previewRest;
}

long long zapTarget(long long channel, int step, long long count) {
    if (count < 1) return 0;
    // A channel outside the list (a page past an imported catalogue's end)
    // zaps as from the nearest end.
    if (channel < 1) channel = step > 0 ? 0 : 1;
    if (channel > count) channel = step > 0 ? count : count + 1;
    long long next = (channel - 1 + step) % count;
    if (next < 0) next += count;
    return next + 1;
}

std::string channelCaption(long long channel, const std::string& name) {
    std::string caption = std::to_string(channel);
    if (!name.empty()) caption += "  " + name;
    return caption;
}

std::string faultMessage(PlaybackFault fault, long long channel) {
    const std::string what = "Channel " + std::to_string(channel);
    const std::string back = "  (Esc: back to the wall)";
    switch (fault) {
    case PlaybackFault::none:
        return "";
    case PlaybackFault::unreachable:
        return what + " cannot be reached: the stream did not answer." + back;
    case PlaybackFault::unplayable:
        return what + " cannot be played: the stream holds nothing playable." + back;
    case PlaybackFault::ended:
        return what + " stopped: the stream ended or broke off." + back;
    case PlaybackFault::webPage:
        return what + " is a web page: Shift+Enter opens it in the browser." + back;
    }
    return "";
}
