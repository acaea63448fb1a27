// Downloading over http and https with libcurl, set up the same safe way for
// every download of the tools (logos for cards, programme guides, playlists):
// only http and https, also on redirects, a few redirects at most, limits on
// the time to connect, the whole time and (optionally) a stalled connection,
// a cap on the bytes enforced while they arrive, validators sent only as
// plain one-line values and those of the answer read back bounded. Every
// failure comes back as a plain value with libcurl's own words beside it; the
// callers word it for their users.
//
// One download at a time is fetchOnce(); a caller driving many at once
// through a multi handle prepares each easy handle with prepareFetch() and
// reads its end with finishFetch().
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>

// Redirects followed before a download fails: a loop fails fast.
constexpr long fetchMaxRedirects = 5;
// Longest validator sent or kept: a longer one is no server's own.
constexpr size_t fetchMaxValidator = 1024;

struct FetchLimits {
    unsigned long long maxBytes = 0;  // the body's bytes at the most
    double connectSeconds = 10;
    double totalSeconds = 60;
    long stalledSeconds = 0;  // no byte for this long ends it; 0: only the total limit
};

// A server's validators of what it sent: sent back on the next request so
// that an unchanged file is answered 304 without its body.
struct FetchValidators {
    std::string etag;          // as the server sent it, quotes included
    std::string lastModified;  // an HTTP date
};

struct FetchRequest {
    std::string address;  // http or https
    FetchLimits limits;
    FetchValidators validators;  // either may be empty; with one the request is conditional
    std::string userAgent;
    std::string accept;           // the Accept header's value; empty: libcurl's
    bool decompress = false;      // asks for a compressed transfer and undoes it
    bool failOnHttpError = false;  // a status of 400 or more ends it before any body
};

// How a download ended.
enum FetchEnd {
    fetchDone,              // the server answered (see `status`)
    fetchStopped,           // the receiver wanted no more
    fetchTooLarge,          // more than the byte cap, said or sent
    fetchHttpError,         // a status of 400 or more (with failOnHttpError)
    fetchTooManyRedirects,  // more than fetchMaxRedirects
    fetchTimedOut,          // see `requestSent`
    fetchHostUnknown,       // the server's name does not resolve
    fetchProxyUnknown,      // the proxy's name does not resolve
    fetchNotConnected,      // the server could not be connected to
    fetchRefusedProtocol,   // the address or a redirect is neither http nor https
    fetchBadAddress,        // not an address at all
    fetchCannotStart,       // libcurl could not start
    fetchFailed,            // anything else: `detail` says what
};

struct FetchResult {
    FetchEnd end = fetchFailed;
    long status = 0;                  // the last answer's HTTP status, 0 without one
    FetchValidators validators;       // the last answer's, empty when it sent none
    unsigned long long received = 0;  // bytes of the body passed on
    bool requestSent = false;         // a request went out (a timeout then was the server's)
    std::string host;                 // the address's server, in lower case
    std::string detail;               // libcurl's words for the failure
};

// Receives each piece of the body as it comes; false stops the download
// (fetchStopped).
using FetchBody = std::function<bool(const char* data, size_t size)>;

// What one easy handle of prepareFetch() needs while it runs and at its end;
// it lives at one place (libcurl holds its address) until the handle is
// cleaned up.
struct FetchTransfer {
    FetchRequest request;
    FetchBody onBody;
    curl_slist* headers = nullptr;
    unsigned long long received = 0;
    bool tooLarge = false;
    bool stopped = false;
    FetchValidators validators;
    char error[CURL_ERROR_SIZE] = {};

    FetchTransfer() = default;
    FetchTransfer(const FetchTransfer&) = delete;
    FetchTransfer& operator=(const FetchTransfer&) = delete;
    ~FetchTransfer();
};

// Starts libcurl once for the whole program (any thread may call it).
void startFetching();

// Sets `easy` up for `request` with the shared safe settings, the body going
// to `onBody` through `transfer`. False (with `transfer`'s error set) when
// libcurl refuses a setting.
bool prepareFetch(CURL* easy, FetchTransfer& transfer, const FetchRequest& request,
                  FetchBody onBody);

// How the download on `easy`, prepared with `transfer`, ended with `code`.
FetchResult finishFetch(CURL* easy, const FetchTransfer& transfer, CURLcode code);

// Downloads `request` in the calling thread, the body going to `onBody`.
FetchResult fetchOnce(const FetchRequest& request, const FetchBody& onBody);

// A plain reason for a download that did not end in a 2xx or 304 answer
// (empty for those), for callers that have no words of their own.
std::string fetchReason(const FetchRequest& request, const FetchResult& result);

// The server's name in `address`, in lower case; empty when it names none.
std::string fetchHostOf(const std::string& address);

// Whether `value` may be sent as a validator: one line, not too long.
bool plainValidator(const std::string& value);
