// The wall follows an import that runs beside it: when another catalogue is
// switched in, the URL directory is read again, the catalogue's page is kept
// inside the new count, and the catalogue's tiles are decoded afresh.
// Favourites, selection, scale and counters stay as they are; find mode on
// the catalogue ends (its matches were channels of the old one). At rest this
// costs one look at the count record's time and size every 200 ms; nothing
// is drawn unless the catalogue changed.
#pragma once

// Between frames: looks for a new catalogue and follows it. True when it
// did (the wall's picture may have changed). `now` is a steady clock in
// milliseconds.
bool followCatalogue(long long nowMilliseconds);
