// The player inside the window on libmpv: one core for the whole run,
// created on first use, drawing through its OpenGL render API into the
// window or into a framebuffer object whose texture the selected tile
// shows. Every call into the core that could wait for it is asynchronous:
// the core may wait for this thread to draw, and this thread never waits
// for the core while the window lives.
#define GL_GLEXT_PROTOTYPES
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dataroot/url_directory_file.h"
#include "play/player.h"
#include "platform/report.h"

namespace {

// The network protocols the demuxers and streams may open: those of the
// media addresses the directory allows, and the ones HLS and RTSP reach
// through them. No local files, no concatenation, no data addresses.
const char* const allowedProtocols =
    "http,https,tcp,tls,udp,rtp,srtp,rtmp,rtmps,rtmpt,rtmpts,rtsp,mmsh,mmst,crypto,hls,httpproxy";

// How long the network may keep a stream silent before it counts as
// failed, in seconds; the same in microseconds for the protocols' own
// read and write timeout.
const char* const networkTimeoutSeconds = "5";
const char* const networkTimeoutMicroseconds = "5000000";

struct Player {
    mpv_handle* core = nullptr;
    mpv_render_context* render = nullptr;
    bool tried = false;          // a start was tried (it is not tried again after failing)
    bool playing = false;        // an address was handed over and did not end
    bool pictureSeen = false;    // the address being played gave a picture
    unsigned long long loadsAsked = 0;    // playAddress calls
    unsigned long long loadsStarted = 0;  // start-file events seen
    GLuint framebuffer = 0;      // the tile's framebuffer and its texture
    GLuint texture = 0;
    int textureWidth = 0;
    int textureHeight = 0;
};

Player player;
// Set by the core's threads, taken by the window's timer.
std::atomic<bool> renderUpdate{false};
std::atomic<bool> coreWakeup{false};

void onRenderUpdate(void*) { renderUpdate.store(true); }
void onCoreWakeup(void*) { coreWakeup.store(true); }

void* glProcedure(void*, const char* name) {
    return reinterpret_cast<void*>(glutGetProcAddress(name));
}

void setOption(mpv_handle* core, const char* name, const char* value) {
    if (mpv_set_option_string(core, name, value) < 0)
        reportFormatted(ReportLevel::problem, "Quillon: the player refused its option %s=%s", name, value);
}

// Sets a key-value list option (values may hold commas) from pairs.
void setKeyValueOption(mpv_handle* core, const char* name, const char* const (*pairs)[2],
                       int count) {
    mpv_node values[8];
    char* keys[8];
    if (count > 8) count = 8;
    for (int i = 0; i < count; ++i) {
        values[i].format = MPV_FORMAT_STRING;
        values[i].u.string = const_cast<char*>(pairs[i][1]);
        keys[i] = const_cast<char*>(pairs[i][0]);
    }
    mpv_node_list list{count, values, keys};
    mpv_node map;
    map.format = MPV_FORMAT_NODE_MAP;
    map.u.list = &list;
    if (mpv_set_option(core, name, MPV_FORMAT_NODE, &map) < 0)
        reportFormatted(ReportLevel::problem, "Quillon: the player refused its option %s", name);
}

// The sound output: the system's default, or the one QUILLON_AUDIO_OUTPUT
// names among the few known (the tests use "null").
void chooseAudioOutput(mpv_handle* core) {
    const char* wanted = std::getenv("QUILLON_AUDIO_OUTPUT");
    if (!wanted) return;
    for (const char* known : {"null", "pulse", "pipewire", "alsa", "jack"}) {
        if (std::strcmp(wanted, known) == 0) setOption(core, "ao", known);
    }
}

bool startPlayer() {
    player.tried = true;
    // The core reads numbers in the "C" convention whatever the locale says.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* core = mpv_create();
    if (!core) return false;
    // Nothing from the user's own player set-up: no configuration files, no
    // scripts, no downloader, no key bindings, no on-screen controller, no
    // terminal; nothing opened beside the stream (subtitles, audio, cover
    // pictures). What a stream refers to (HLS segments) is opened only
    // through the network protocols allowed below.
    const char* const options[][2] = {
        {"config", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"osc", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"input-terminal", "no"},
        {"terminal", "no"},
        {"sub-auto", "no"},
        {"audio-file-auto", "no"},
        {"cover-art-auto", "no"},
        {"load-unsafe-playlists", "no"},
        {"idle", "yes"},
        {"keep-open", "no"},
        {"vo", "libmpv"},
        {"hwdec", "no"},
        {"audio-display", "no"},
        {"osd-level", "1"},
        {"osd-duration", "3000"},
        {"network-timeout", networkTimeoutSeconds},
        // Bounded memory for live streams: a few seconds ahead, little kept
        // behind, probing capped.
        {"cache", "yes"},
        {"demuxer-max-bytes", "32MiB"},
        {"demuxer-max-back-bytes", "4MiB"},
        {"demuxer-readahead-secs", "5"},
        {"cache-secs", "5"},
        {"demuxer-lavf-probesize", "2000000"},
        {"demuxer-lavf-analyzeduration", "2"},
    };
    for (const auto& option : options) setOption(core, option[0], option[1]);
    const char* const lavfOptions[][2] = {
        {"protocol_whitelist", allowedProtocols},
        {"rw_timeout", networkTimeoutMicroseconds},
    };
    setKeyValueOption(core, "demuxer-lavf-o", lavfOptions, 2);
    setKeyValueOption(core, "stream-lavf-o", lavfOptions, 2);
    chooseAudioOutput(core);
    if (mpv_initialize(core) < 0) {
        mpv_terminate_destroy(core);
        return false;
    }
    mpv_opengl_init_params glParams{glProcedure, nullptr};
    int advancedControl = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glParams},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advancedControl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* render = nullptr;
    if (mpv_render_context_create(&render, core, params) < 0) {
        mpv_terminate_destroy(core);
        return false;
    }
    mpv_render_context_set_update_callback(render, onRenderUpdate, nullptr);
    mpv_set_wakeup_callback(core, onCoreWakeup, nullptr);
    // Its warnings and errors go to standard error, where a failing stream's
    // reason can be read.
    mpv_request_log_messages(core, "warn");
    player.core = core;
    player.render = render;
    return true;
}

// Draws the current picture into `framebuffer` (0: the window) of
// width x height, keeping every piece of graphics state the renderer may
// touch as it was.
void renderInto(GLuint framebuffer, int width, int height, bool flip) {
    if (!player.render || width <= 0 || height <= 0) return;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    GLint program = 0;
    GLint arrayBuffer = 0;
    GLint vertexArray = 0;
    GLint unpackBuffer = 0;
    GLint drawFramebuffer = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpackBuffer);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer);
    // The wall's fixed-function state must not act on the player's drawing.
    for (GLenum capability : {GL_DEPTH_TEST, GL_STENCIL_TEST, GL_SCISSOR_TEST, GL_ALPHA_TEST,
                              GL_BLEND, GL_CULL_FACE, GL_LIGHTING, GL_TEXTURE_2D})
        glDisable(capability);
    mpv_opengl_fbo target{static_cast<int>(framebuffer), width, height, 0};
    int flipY = flip ? 1 : 0;
    int blockForTargetTime = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &blockForTargetTime},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(player.render, params);
    glUseProgram(static_cast<GLuint>(program));
    glBindVertexArray(static_cast<GLuint>(vertexArray));
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(arrayBuffer));
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpackBuffer));
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(drawFramebuffer));
    glPopClientAttrib();
    glPopAttrib();
}

// The tile's framebuffer at width x height, made or remade as needed.
bool prepareTileFramebuffer(int width, int height) {
    if (player.framebuffer && player.textureWidth == width && player.textureHeight == height)
        return true;
    GLint boundTexture = 0;
    GLint boundFramebuffer = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &boundFramebuffer);
    if (!player.texture) glGenTextures(1, &player.texture);
    glBindTexture(GL_TEXTURE_2D, player.texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    if (!player.framebuffer) glGenFramebuffers(1, &player.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, player.framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, player.texture, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(boundFramebuffer));
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(boundTexture));
    player.textureWidth = width;
    player.textureHeight = height;
    return complete;
}

PlaybackFault faultOfEnd(const mpv_event_end_file& end) {
    if (end.reason == MPV_END_FILE_REASON_EOF)
        return player.pictureSeen ? PlaybackFault::ended : PlaybackFault::unplayable;
    if (end.reason != MPV_END_FILE_REASON_ERROR) return PlaybackFault::none;
    if (player.pictureSeen) return PlaybackFault::ended;
    if (end.error == MPV_ERROR_LOADING_FAILED) return PlaybackFault::unreachable;
    return PlaybackFault::unplayable;
}

// QUILLON_PLAY_IN_WINDOW=no keeps every channel going to an outside player,
// as where there is no player inside the window.
bool playingInWindowRefused() {
    const char* setting = std::getenv("QUILLON_PLAY_IN_WINDOW");
    return setting && std::strcmp(setting, "no") == 0;
}

}  // namespace

bool playerAvailable() {
    if (!player.tried && playingInWindowRefused()) {
        player.tried = true;
        return false;
    }
    if (!player.tried && !startPlayer())
        report(ReportLevel::problem, "Quillon: the player inside the window could not start; "
                                     "channels open in an outside player");
    return player.core != nullptr;
}

bool playAddress(const std::string& address, bool withSound) {
    if (!playerAvailable() || !isSafeMediaAddress(address)) return false;
    setPlayerSound(withSound);
    const char* command[] = {"loadfile", address.c_str(), "replace", nullptr};
    if (mpv_command_async(player.core, 0, command) < 0) return false;
    ++player.loadsAsked;
    player.playing = true;
    player.pictureSeen = false;
    return true;
}

void setPlayerSound(bool on) {
    if (!player.core) return;
    int mute = on ? 0 : 1;
    mpv_set_property_async(player.core, 0, "mute", MPV_FORMAT_FLAG, &mute);
}

void stopPlayer() {
    if (!player.core) return;
    const char* command[] = {"stop", nullptr};
    mpv_command_async(player.core, 0, command);
    player.playing = false;
}

bool playerPlaying() { return player.playing; }

void showPlayerText(const std::string& text, long long milliseconds) {
    if (!player.core) return;
    const std::string duration = std::to_string(milliseconds);
    const char* command[] = {"show-text", text.c_str(), duration.c_str(), nullptr};
    mpv_command_async(player.core, 0, command);
}

PlayerNews takePlayerNews() {
    PlayerNews news;
    if (!player.core) return news;
    if (renderUpdate.exchange(false) &&
        (mpv_render_context_update(player.render) & MPV_RENDER_UPDATE_FRAME))
        news.newPicture = true;
    if (!coreWakeup.exchange(false)) return news;
    for (;;) {
        mpv_event* event = mpv_wait_event(player.core, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        if (event->event_id == MPV_EVENT_START_FILE) {
            ++player.loadsStarted;
            player.pictureSeen = false;
        }
        if (event->event_id == MPV_EVENT_PLAYBACK_RESTART) player.pictureSeen = true;
        if (event->event_id == MPV_EVENT_LOG_MESSAGE && event->data) {
            const auto* message = static_cast<mpv_event_log_message*>(event->data);
            // The player's lines come with their line break.
            std::string text = std::string("Quillon player: ") + message->prefix + ": " + message->text;
            if (!text.empty() && text.back() == '\n') text.pop_back();
            report(ReportLevel::problem, text);
        }
        if (event->event_id != MPV_EVENT_END_FILE || !event->data) continue;
        // Only the end of the address asked for last counts: the ones it
        // replaced end too.
        if (player.loadsStarted != player.loadsAsked || !player.playing) continue;
        const PlaybackFault fault = faultOfEnd(*static_cast<mpv_event_end_file*>(event->data));
        if (fault == PlaybackFault::none) continue;
        player.playing = false;
        news.fault = fault;
    }
    return news;
}

int drawPlayerIntoTexture(int width, int height) {
    if (!player.render || !prepareTileFramebuffer(width, height)) return 0;
    renderInto(player.framebuffer, width, height, false);
    return static_cast<int>(player.texture);
}

void drawPlayerIntoWindow(int width, int height) { renderInto(0, width, height, true); }

void endPlayer() {
    if (player.render) {
        mpv_render_context_free(player.render);
        player.render = nullptr;
    }
    if (player.framebuffer) glDeleteFramebuffers(1, &player.framebuffer);
    if (player.texture) glDeleteTextures(1, &player.texture);
    player.framebuffer = 0;
    player.texture = 0;
    if (player.core) {
        mpv_terminate_destroy(player.core);
        player.core = nullptr;
    }
    player.playing = false;
}
