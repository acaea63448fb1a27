// The automatic refresh of the playlists the catalogue was imported from:
// when VESTRALUME/sources.tsv says the last import is older than its
// interval (24 h unless chosen with quillon-import --refresh-every), the
// viewer starts `quillon-import --refresh` beside the wall, in the
// background: a provider list that did not change costs one request
// answered 304; a changed one is imported, and the wall follows it
// (app/catalogue_follow.h). What the refresh says on standard error (why it
// failed) is appended to VESTRALUME/refresh.log. A refresh is started at most
// once per interval, and never more often than once a minute, whether it
// worked or not, so a failing provider is not asked in a loop.
#pragma once

// Whether a refresh is to be started now: the sources are due, none runs,
// and the last one this viewer started (if any) was started at least the
// interval (and a minute) ago.
bool refreshAttemptDue(bool sourcesDue, bool running, bool attemptedBefore,
                       long long millisecondsSinceAttempt, long long refreshSeconds);

// Between frames: looks at the sources every few seconds and starts the
// refresh when it is due. `now` is a steady clock in milliseconds.
void tendPlaylistRefresh(long long nowMilliseconds);
