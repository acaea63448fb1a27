// Downloading a playlist only when it changed: a conditional GET with the
// validators the server sent last time (If-None-Match with its ETag,
// If-Modified-Since with its Last-Modified date), so an unchanged provider
// list costs one request answered 304 and nothing else.
#pragma once

#include <functional>
#include <string>

#include "fetch/fetch.h"
#include "import/playlist.h"

enum ConditionalFetch {
    playlistFetched,      // the playlist went through the sinks
    playlistNotModified,  // the server said 304: nothing went through the sinks
    playlistFetchFailed   // `error` says why; what came before may have gone through the sinks
};

// Downloads the http(s) playlist `address` through `sinks`, with the same
// limits as every download of a playlist (import/import.h). With
// validators (either may be empty) the request is conditional. `received`
// gets the validators of the answer (empty ones when the server sent none;
// on 304 the ones sent). The download stops early, and succeeds, once
// `sinks.full` says so.
ConditionalFetch fetchPlaylistIfChanged(const std::string& address, const FetchValidators& sent,
                                        const PlaylistSinks& sinks, const std::function<void()>& chunkRead,
                                        FetchValidators& received, std::string& error);
