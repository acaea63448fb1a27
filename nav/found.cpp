#include "nav/found.h"

#include <utility>

namespace {

struct FoundChannels {
    bool shown = false;
    int sourceList = 1;
    std::vector<int> channels;
};

FoundChannels found;

}  // namespace

void showFoundChannels(int sourceList, std::vector<int> channels) {
    found.shown = true;
    found.sourceList = sourceList;
    found.channels = std::move(channels);
}

void dropFoundChannels() {
    found.shown = false;
    found.channels = std::vector<int>();
}

bool foundChannelsShown() { return found.shown; }

int foundCount() { return static_cast<int>(found.channels.size()); }

std::optional<int> foundChannel(long long place) {
    if (!found.shown || place < 1 || place > static_cast<long long>(found.channels.size()))
        return std::nullopt;
    return found.channels[static_cast<size_t>(place - 1)];
}

int findSourceList() { return found.sourceList; }
