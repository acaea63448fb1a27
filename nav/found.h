// The channels find mode shows as a list of their own (findList, nav/find.h):
// find mode hands them over after every key; page building and the commands
// read them. Apart from find mode so that the page and the commands, which
// find mode itself uses, need nothing of it.
#pragma once

#include <optional>
#include <vector>

// Find mode shows `channels` (numbers in the list `sourceList`, 1 or 2, best
// first).
void showFoundChannels(int sourceList, std::vector<int> channels);

// Find mode is left: no found channels are shown; the list searched stays.
void dropFoundChannels();

// Whether find mode shows found channels.
bool foundChannelsShown();

// How many channels match the query.
int foundCount();

// The channel number, in the list searched, of the match at `place` (1 for
// the best); none past the last match or when find mode is off.
std::optional<int> foundChannel(long long place);

// The list searched: 1 or 2.
int findSourceList();
