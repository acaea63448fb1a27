// Getting logos: telling what a logo address names, and fetching logos from
// their servers with libcurl (several at once, with time and size limits)
// into the logo cache, which remembers for each address what its server sent
// and when, so that a logo is asked for again only after a while and then
// only revalidated. libcurl is wrapped so that every failure comes back as a
// plain reason.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cards/cards.h"

enum LogoPlace {
    logoNowhere,      // no logo
    logoOnServer,     // an http or https address
    logoInFile,       // a local path or a file: address
    logoUnsupported,  // anything else: why in `problem`
};

struct LogoAddress {
    LogoPlace place = logoNowhere;
    std::string location;  // the address to fetch, or the path to read
    std::string problem;
};

// What a channel's logo entry names. Spaces in a server address are
// percent-encoded; a file: address is turned into its path.
LogoAddress classifyLogo(const std::string& logo);

// What the cache knows about one logo address.
struct LogoRecord {
    std::string address;
    long long checked = 0;  // when its server last answered or failed (seconds)
    std::string etag;       // the server's validators, sent when asking again
    std::string modified;
    std::string contentType;
    std::string digest;   // of the cached bytes (see digestOf)
    std::string failure;  // not empty: the last fetch failed, for this reason
};

std::string formatLogoRecord(const LogoRecord& record);
// False when `text` is not a record.
bool parseLogoRecord(const std::string& text, LogoRecord& record);

enum FetchPlan {
    planUseCache,         // fresh: no request at all
    planRememberFailure,  // failed a short while ago: not asked again yet
    planFetch,            // ask the server (with the validators when cached)
    planOffline,          // no network: the cached bytes when there are any
};

// What to do for a logo address with this record (null: none), whether its
// bytes are cached, at time `now`.
FetchPlan planLogoFetch(const LogoRecord* record, bool bytesCached, long long now,
                        const CardOptions& options);

// Whether the logo at server address `location` would be taken from the logo
// cache in `folder` at time `now` without asking its server: fresh, or failed
// a short while ago. `digest` is then the digest of its cached bytes, or empty
// for a failed one (its channels get name cards).
bool logoSettledInCache(const std::string& location, const std::string& folder,
                        const CardOptions& options, long long now, std::string& digest);

// A logo made ready for drawing.
struct LogoReady {
    LogoOutcome outcome = logoNone;
    std::string path;         // the file holding its bytes
    std::string bytes;        // or the bytes themselves, when they could not be cached
    std::string digest;       // of those bytes; empty when not known yet
    std::string contentType;  // as the server said
    std::string problem;      // why it failed
};

// Gets every server address of `addresses` ready from the logo cache in
// `folder` or from its server, calling ready(index, logo) from the calling
// thread as each is, and tick() now and then while waiting for servers.
// Without a folder (empty) nothing is cached: fetched logos come in memory.
void fetchLogos(const std::vector<std::string>& addresses, const std::string& folder,
                const CardOptions& options,
                const std::function<void(size_t, const LogoReady&)>& ready,
                const std::function<void()>& tick);
