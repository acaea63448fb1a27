// Playing a media address: which player, with which arguments, and the
// channel switching of a TV (the player started for the channel before ends
// when the next one opens). Starting and ending a program is platform/'s.
#include <string>
#include <vector>

#include "launch/launch.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/report.h"

namespace {

struct MediaPlayer {
    const char* name;
    // Fullscreen, and one process of its own per start, so that the process
    // held is the one playing.
    std::vector<const char*> options;
    // Each is followed directly by the channel's name.
    std::vector<const char*> titleOptions;
};

// In the order they are looked for.
const MediaPlayer mediaPlayers[] = {
    {"mpv", {"--fs", "--force-window=immediate"}, {"--force-media-title="}},
    {"vlc", {"--fullscreen", "--no-one-instance"}, {"--meta-title=", "--video-title="}},
    // Celluloid hands its "--mpv-" options on to mpv inside one quoted
    // string, which a name holding a quote would break out of: no title.
    {"celluloid", {"--no-existing-session", "--mpv-fs"}, {}},
    // Totem has no option for a title, and its --fullscreen toggles the
    // window of a running Totem rather than starting in fullscreen.
    {"totem", {"--no-existing-session"}, {}},
};

// How long a switch waits for the previous player to go before starting the
// next one (a player that allows one instance only would otherwise hand the
// new address to the one that is ending). A player still running then is
// killed (endProgram), so however fast channels are switched only one player
// ever runs, and the wall waits at most this plus the kill.
constexpr int playerEndWaitMilliseconds = 1000;

// The player started for the media channel opened last, while it is held.
StartedProgram playing;

bool isWebScheme(const std::string& address) {
    const std::string scheme = addressScheme(address);
    return scheme == "http" || scheme == "https";
}

// The length of the UTF-8 sequence starting at text[i] and its code point,
// or 0 when the bytes there are not well-formed UTF-8 (stray continuation
// bytes, overlong forms, surrogates, values past U+10FFFF, cut sequences).
size_t decodeUtf8(const std::string& text, size_t i, char32_t& code) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, code = lead & 0x1f, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, code = lead & 0x0f, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return length;
}

// Characters that control rather than show: C0 and C1 controls, DEL, the
// line and paragraph separators, and the bidirectional embeddings,
// overrides and isolates (which could make a title read as something else).
bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029 ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string channelName(const std::string& linkFileText) {
    const std::string::size_type firstEnd = linkFileText.find('\n');
    if (firstEnd == std::string::npos) return std::string();
    const std::string::size_type start = firstEnd + 1;
    const std::string::size_type end = linkFileText.find('\n', start);
    const std::string line =
        linkFileText.substr(start, end == std::string::npos ? std::string::npos : end - start);

    std::string name;
    for (size_t i = 0; i < line.size();) {
        char32_t code = 0;
        const size_t length = decodeUtf8(line, i, code);
        if (length == 0) {  // a byte that is not text is dropped
            ++i;
            continue;
        }
        const bool tab = code == '\t';
        if (tab || !isControl(code)) {
            const std::string piece = tab ? std::string(" ") : line.substr(i, length);
            if (name.size() + piece.size() > maxChannelNameLength) break;
            name += piece;
        }
        i += length;
    }
    const std::string::size_type first = name.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> mediaPlayerCommand(const std::string& player, const std::string& program,
                                            const std::string& address, const std::string& title) {
    std::vector<std::string> command{program};
    for (const MediaPlayer& known : mediaPlayers) {
        if (player != known.name) continue;
        for (const char* option : known.options) command.push_back(option);
        if (!title.empty())
            for (const char* option : known.titleOptions) command.push_back(option + title);
    }
    // Whatever the address holds, it is never read as an option.
    command.push_back("--");
    command.push_back(address);
    return command;
}

void openMediaAddress(const std::string& address, const std::string& title) {
    if (!isSafeMediaAddress(address)) return;
    // Like a TV: the channel playing gives way to the next one.
    endProgram(playing, playerEndWaitMilliseconds);
    for (const MediaPlayer& player : mediaPlayers) {
        std::optional<std::string> program = findProgramOnPath(player.name);
        if (!program) continue;
        playing = startProgram(mediaPlayerCommand(player.name, *program, address, title));
        if (!playing.started)
            report(ReportLevel::problem, "Quillon: " + *program + " could not be started to play " + address);
        return;
    }
    // Without a player the desktop decides what plays a web address.
    if (desktopOpensEveryAddress || isWebScheme(address)) {
        openAddress(address);
        return;
    }
    report(ReportLevel::problem,
           "Quillon: a media player (mpv, vlc, celluloid or totem) is needed to play " + address);
}

bool mediaPlayerRunning() { return programRunning(playing); }
