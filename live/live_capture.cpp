#include "live/live_capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include "dataroot/url_directory_file.h"

const char* const captureProtocols = "http,https,tls,tcp,udp,rtp,rtmp,rtmps,rtmpt,rtmpts,rtsp,srtp,hls,crypto,mmsh,mmst,httpproxy";

namespace {

using Clock = std::chrono::steady_clock;

// Everything one capture holds from FFmpeg, released in one place.
struct CaptureState {
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    AVDictionary* options = nullptr;
    Clock::time_point deadline;
    const std::atomic<bool>* stop = nullptr;
    bool timedOut = false;

    ~CaptureState() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
        av_dict_free(&options);
    }
};

// FFmpeg asks this during every blocking operation; past the deadline it
// gives up with AVERROR_EXIT.
int onInterruptCheck(void* opaque) {
    auto* state = static_cast<CaptureState*>(opaque);
    if (Clock::now() < state->deadline && !(state->stop && state->stop->load())) return 0;
    state->timedOut = true;
    return 1;
}

Clock::time_point after(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

CaptureFailure failureOf(int code, const CaptureState& state) {
    if (state.timedOut || code == AVERROR_EXIT || code == AVERROR(ETIMEDOUT) || code == AVERROR(EAGAIN))
        return CaptureFailure::timedOut;
    if (code == AVERROR(ECONNREFUSED) || code == AVERROR_PROTOCOL_NOT_FOUND || code == AVERROR(EACCES) ||
        code == AVERROR(EPERM) || code == AVERROR(ECONNRESET))
        return CaptureFailure::refused;
    if (code == AVERROR_HTTP_NOT_FOUND || code == AVERROR_HTTP_FORBIDDEN || code == AVERROR_HTTP_UNAUTHORIZED ||
        code == AVERROR_HTTP_BAD_REQUEST || code == AVERROR_HTTP_OTHER_4XX || code == AVERROR_HTTP_SERVER_ERROR ||
        code == AVERROR(ENOENT) || code == AVERROR(EHOSTUNREACH) || code == AVERROR(ENETUNREACH) ||
        code == AVERROR(EIO))
        return CaptureFailure::notFound;
    return CaptureFailure::notAStream;
}

Capture failed(CaptureFailure failure, const std::string& detail) {
    Capture capture;
    capture.failure = failure;
    capture.detail = detail;
    return capture;
}

// Scales the frame to cover width x height, its aspect kept, the middle cut
// out.
bool scaleCovering(CaptureState& state, const AVFrame& frame, int width, int height, Capture& capture) {
    const double across = static_cast<double>(width) / frame.width;
    const double down = static_cast<double>(height) / frame.height;
    const double scale = std::max(across, down);
    const int scaledWidth = std::max(width, static_cast<int>(frame.width * scale + 0.5));
    const int scaledHeight = std::max(height, static_cast<int>(frame.height * scale + 0.5));
    state.scaler = sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), scaledWidth,
                                  scaledHeight, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!state.scaler) return false;
    std::vector<unsigned char> scaled(static_cast<size_t>(scaledWidth) * scaledHeight * 3);
    uint8_t* planes[4] = {scaled.data(), nullptr, nullptr, nullptr};
    int strides[4] = {scaledWidth * 3, 0, 0, 0};
    if (sws_scale(state.scaler, frame.data, frame.linesize, 0, frame.height, planes, strides) != scaledHeight)
        return false;
    const int left = (scaledWidth - width) / 2;
    const int top = (scaledHeight - height) / 2;
    capture.pixels.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(capture.pixels.data() + static_cast<size_t>(y) * width * 3,
                    scaled.data() + (static_cast<size_t>(y + top) * scaledWidth + left) * 3, static_cast<size_t>(width) * 3);
    capture.width = width;
    capture.height = height;
    return true;
}

}  // namespace

const char* describeFailure(CaptureFailure failure) {
    switch (failure) {
        case CaptureFailure::none: return "";
        case CaptureFailure::refused: return "refused";
        case CaptureFailure::timedOut: return "timed out";
        case CaptureFailure::notFound: return "not found";
        case CaptureFailure::noVideo: return "no video";
        case CaptureFailure::notAStream: return "not a stream";
    }
    return "";
}

CaptureFailure failureNamed(const std::string& text) {
    for (CaptureFailure failure : {CaptureFailure::refused, CaptureFailure::timedOut, CaptureFailure::notFound,
                                   CaptureFailure::noVideo, CaptureFailure::notAStream})
        if (text == describeFailure(failure)) return failure;
    return CaptureFailure::none;
}

Capture captureFirstPicture(const std::string& address, const CaptureLimits& limits) {
    if (!isSafeMediaAddress(address)) return failed(CaptureFailure::refused, "not a media address");
    CaptureState state;
    state.stop = limits.stop;
    state.format = avformat_alloc_context();
    state.packet = av_packet_alloc();
    state.frame = av_frame_alloc();
    if (!state.format || !state.packet || !state.frame) return failed(CaptureFailure::notAStream, "out of memory");
    state.format->interrupt_callback.callback = onInterruptCheck;
    state.format->interrupt_callback.opaque = &state;
    state.format->probesize = limits.probeBytes;
    state.format->max_analyze_duration = limits.analyzeMicroseconds;
    state.format->fps_probe_size = 1;
    const std::string socketTimeout = std::to_string(static_cast<long long>(limits.connectSeconds * 1e6));
    av_dict_set(&state.options, "protocol_whitelist", captureProtocols, 0);
    av_dict_set(&state.options, "rw_timeout", socketTimeout.c_str(), 0);
    av_dict_set(&state.options, "timeout", socketTimeout.c_str(), 0);
    av_dict_set(&state.options, "reconnect", "0", 0);
    av_dict_set(&state.options, "seekable", "0", 0);
    av_dict_set(&state.options, "max_reload", "2", 0);
    av_dict_set(&state.options, "rtsp_transport", "tcp", 0);

    state.deadline = after(limits.connectSeconds);
    int code = avformat_open_input(&state.format, address.c_str(), nullptr, &state.options);
    if (code < 0) {
        state.format = nullptr;  // freed by avformat_open_input
        return failed(failureOf(code, state), errorText(code));
    }
    state.deadline = after(limits.keyFrameSeconds);
    // The probing decoders are held to the same largest picture.
    std::vector<AVDictionary*> streamOptions(state.format->nb_streams, nullptr);
    const std::string largestPicture = std::to_string(static_cast<long long>(limits.largestSide) * limits.largestSide);
    for (AVDictionary*& options : streamOptions) av_dict_set(&options, "max_pixels", largestPicture.c_str(), 0);
    code = avformat_find_stream_info(state.format, streamOptions.empty() ? nullptr : streamOptions.data());
    for (AVDictionary*& options : streamOptions) av_dict_free(&options);
    if (code < 0) return failed(failureOf(code, state), errorText(code));

    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(state.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || !codec) {
        if (state.timedOut) return failed(CaptureFailure::timedOut, "no picture in time");
        if (stream == AVERROR_STREAM_NOT_FOUND) return failed(CaptureFailure::noVideo, "no video stream");
        return failed(CaptureFailure::notAStream, "no decoder for its pictures");
    }
    const AVCodecParameters* parameters = state.format->streams[stream]->codecpar;
    if (parameters->width > limits.largestSide || parameters->height > limits.largestSide)
        return failed(CaptureFailure::notAStream, "picture larger than " + std::to_string(limits.largestSide));
    for (unsigned other = 0; other < state.format->nb_streams; ++other)
        if (static_cast<int>(other) != stream) state.format->streams[other]->discard = AVDISCARD_ALL;

    state.decoder = avcodec_alloc_context3(codec);
    if (!state.decoder || avcodec_parameters_to_context(state.decoder, parameters) < 0)
        return failed(CaptureFailure::notAStream, "decoder could not be set up");
    state.decoder->thread_count = 1;
    state.decoder->max_pixels = static_cast<int64_t>(limits.largestSide) * limits.largestSide;
    state.decoder->skip_frame = AVDISCARD_NONKEY;
    if (avcodec_open2(state.decoder, codec, nullptr) < 0)
        return failed(CaptureFailure::notAStream, "decoder could not be opened");

    // Packets until the first decoded picture: only key frames are decoded.
    for (;;) {
        code = av_read_frame(state.format, state.packet);
        if (code < 0) {
            if (state.timedOut) return failed(CaptureFailure::timedOut, "no key frame in time");
            return failed(code == AVERROR_EOF ? CaptureFailure::notAStream : failureOf(code, state), errorText(code));
        }
        if (state.packet->stream_index == stream) {
            code = avcodec_send_packet(state.decoder, state.packet);
            av_packet_unref(state.packet);
            if (code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_INVALIDDATA)
                return failed(CaptureFailure::notAStream, errorText(code));
            code = avcodec_receive_frame(state.decoder, state.frame);
            if (code == 0) break;
            if (code != AVERROR(EAGAIN)) return failed(CaptureFailure::notAStream, errorText(code));
        } else {
            av_packet_unref(state.packet);
        }
        if (Clock::now() >= state.deadline) return failed(CaptureFailure::timedOut, "no key frame in time");
    }
    if (state.frame->width <= 0 || state.frame->height <= 0 || state.frame->width > limits.largestSide ||
        state.frame->height > limits.largestSide)
        return failed(CaptureFailure::notAStream, "picture larger than " + std::to_string(limits.largestSide));
    Capture capture;
    capture.sourceWidth = state.frame->width;
    capture.sourceHeight = state.frame->height;
    if (!scaleCovering(state, *state.frame, limits.width, limits.height, capture))
        return failed(CaptureFailure::notAStream, "picture could not be scaled");
    return capture;
}
