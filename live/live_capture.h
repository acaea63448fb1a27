// Live pictures: one picture of what a media channel shows now, taken from
// its stream with FFmpeg's libraries (libavformat, libavcodec, libswscale):
// open the address, decode the first key frame only, scale it, close.
//
// Streams come from the network and are not trusted: only network
// protocols are allowed (an HLS playlist naming file:// segments reads
// nothing local), connecting and the first key frame each have a deadline
// enforced by an interrupt callback, probing and buffering are capped, and
// a picture larger than 4096 x 4096 is refused. This is the companion's
// side of the root; the viewer never links it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "dataroot/data_root.h"

// Why a channel shows no picture. The names are what the status files hold.
enum class CaptureFailure {
    none,
    refused,     // the server refused the connection, or the address was refused here
    timedOut,    // no answer, or no key frame, within the deadlines
    notFound,    // the server has no such stream (HTTP 404 and the like, an unknown host)
    noVideo,     // a stream without pictures (audio only)
    notAStream,  // the bytes are no stream FFmpeg can read, or the picture is too large
};

// "refused", "timed out", "not found", "no video", "not a stream" ("" for none).
const char* describeFailure(CaptureFailure failure);

// The failure named by describeFailure's text; none for any other text.
CaptureFailure failureNamed(const std::string& text);

struct CaptureLimits {
    double connectSeconds = 5;     // to open the address and read its header
    double keyFrameSeconds = 10;   // from then on, to the first decoded key frame
    long long probeBytes = 1 << 20;  // probesize
    long long analyzeMicroseconds = 2000000;
    int largestSide = 4096;          // a larger picture is refused
    int width = thumbnailWidth;      // the picture's size after scaling
    int height = thumbnailHeight;
    // When set and true, the capture gives up at once (timedOut).
    const std::atomic<bool>* stop = nullptr;
};

// The network protocols FFmpeg may use, for the protocol_whitelist option:
// no file, concat, subfile, data, pipe or fd.
extern const char* const captureProtocols;

struct Capture {
    CaptureFailure failure = CaptureFailure::none;
    std::string detail;                // FFmpeg's own words, for the log
    int width = 0, height = 0;         // as scaled: CaptureLimits::width x height
    std::vector<unsigned char> pixels; // RGB, rows top first
    int sourceWidth = 0, sourceHeight = 0;
};

// Takes one picture of `address`. Never throws; any failure comes back as a
// reason. The address must be a safe media address (see
// dataroot/url_directory_file.h); anything else is refused unopened.
Capture captureFirstPicture(const std::string& address, const CaptureLimits& limits);
