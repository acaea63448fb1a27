// Watching and previewing inside the window: which channel plays where, and
// the keys while a channel fills the window. The player itself is behind
// play/player.h; the wall's page and selection change only through the
// navigation commands, which write the state files as the wall's own keys do.
#include <GL/freeglut.h>
#include <plib/pu.h>

#include <optional>
#include <string>
#include <vector>

#include "launch/alternatives.h"
#include "launch/launch.h"
#include "nav/commands.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "play/playback_hook.h"
#include "play/player.h"
#include "play/watch.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

struct Watch {
    bool watching = false;        // the window shows the channel below
    bool previewing = false;      // the selected tile shows the channel below
    int previewTile = 0;          // that tile
    ChannelEntry channel;         // what plays (or failed to)
    PlaybackFault fault = PlaybackFault::none;  // why it does not play, while watching
    SelectionSpot watchedSpot;    // the selection the watched channel came from
    bool adoptSpot = false;       // the next spot seen is the one a switch made
    bool resumePreview = false;   // back on the wall, the channel plays on in its tile
    bool withSound = false;       // how the channel below was started
    // The channel's alternative addresses (launch/alternatives.h) not played
    // yet, in order: the next is played when the one playing cannot be
    // reached.
    std::vector<std::string> untried;
};

Watch watch;
PreviewTimer previewTimer;
// What the playback hook was told last: whether a channel plays, and which.
bool announcedPlaying = false;
int announcedLink = 0;

// Tells the playback hook when what plays changed.
void announce(bool playing, int linkNumber) {
    if (!playing) linkNumber = 0;
    if (playing == announcedPlaying && linkNumber == announcedLink) return;
    announcedPlaying = playing;
    announcedLink = linkNumber;
    onPlaybackChanged(playing, linkNumber);
}

long long now() { return glutGet(GLUT_ELAPSED_TIME); }

void play(const ChannelEntry& channel, bool withSound) {
    watch.channel = channel;
    watch.fault = PlaybackFault::none;
    watch.withSound = withSound;
    const std::vector<std::string> addresses = addressesToTry(channel.linkNumber, channel.entry.address);
    watch.untried.assign(addresses.begin() + 1, addresses.end());
    announce(playAddress(channel.entry.address, withSound), channel.linkNumber);
}

// The channel's next alternative address, played as the one before was;
// false when none is left.
bool playNextAlternative() {
    if (watch.untried.empty()) return false;
    watch.channel.entry.address = watch.untried.front();
    watch.untried.erase(watch.untried.begin());
    watch.fault = PlaybackFault::none;
    announce(playAddress(watch.channel.entry.address, watch.withSound), watch.channel.linkNumber);
    return true;
}

void stopPlaying() {
    stopPlayer();
    watch.previewing = false;
    watch.previewTile = 0;
    playingTile = 0;
    playingTexture = 0;
    announce(false, 0);
}

void showCaption(const ChannelEntry& channel) {
    showPlayerText(channelCaption(channel.channel, channel.name), captionDuration);
}

// The channel the selection now names, through the state files as Enter
// resolves it, played over the window (or its message shown).
void watchSelected() {
    const std::optional<ChannelEntry> selected = resolveSelectedChannel();
    if (!selected) return;
    if (selected->entry.kind != mediaAddress) {
        stopPlaying();
        watch.channel = *selected;
        watch.fault = PlaybackFault::webPage;
        return;
    }
    // The same channel already playing (its preview, perhaps from one of
    // its alternative addresses) goes on, with sound.
    if (playerPlaying() && watch.fault == PlaybackFault::none &&
        (watch.channel.entry.address == selected->entry.address ||
         (watch.channel.linkNumber == selected->linkNumber && watch.channel.channel == selected->channel))) {
        const std::string playing = watch.channel.entry.address;
        watch.channel = *selected;
        watch.channel.entry.address = playing;
        watch.withSound = true;
        setPlayerSound(true);
    } else {
        play(*selected, true);
    }
    showCaption(*selected);
}

void startWatching() {
    watch.watching = true;
    watch.previewing = false;
    watch.previewTile = 0;
    playingTile = 0;
    playingTexture = 0;
    watch.adoptSpot = true;
    watchSelected();
}

void stopWatching() {
    forgetTypedNumber();
    watch.watching = false;
    if (playerPlaying() && watch.fault == PlaybackFault::none) {
        // The channel plays on, silent, in the tile the selection is on.
        setPlayerSound(false);
        watch.withSound = false;
        watch.resumePreview = true;
    } else {
        stopPlaying();
    }
    watch.fault = PlaybackFault::none;
}

// How many channels a list holds for zapping: an imported catalogue its
// recorded count (the delivered one its own), the favourites their count.
long long zapChannelCount(int list) {
    if (list == 1) return readChannelCount().value_or(deliveredChannelCount);
    const std::optional<int> favourites = readInt(stateFile(StateFile::favouritesCount));
    return favourites && *favourites > 0 ? *favourites : 0;
}

// Up, Down, Page Up and Page Down while watching: the next channel of the
// list in that direction that plays inside the window; the wall's page and
// selection go there.
void zap(int step) {
    forgetTypedNumber();
    const int list = currentList;
    const long long count = zapChannelCount(list);
    long long from = watch.channel.channel;
    if (from == 0) {
        if (const std::optional<ChannelEntry> selected = peekSelectedChannel()) from = selected->channel;
    }
    long long target = from;
    for (int tried = 0; tried < zapSearchLimit; ++tried) {
        target = zapTarget(target, step, count);
        if (target == 0 || target == from) return;
        const std::optional<ChannelEntry> found = peekChannel(list, target);
        if (found && found->entry.kind == mediaAddress) break;
        if (tried + 1 == zapSearchLimit) return;
    }
    goToChannel(target);
    watch.adoptSpot = true;
    watchSelected();
}

void startPreview(int tile) {
    const std::optional<ChannelEntry> selected = peekSelectedChannel();
    if (!selected || selected->entry.kind != mediaAddress) return;
    watch.previewing = true;
    watch.previewTile = tile;
    play(*selected, false);
}

// A key while a channel fills the window.
void onKeyWhileWatching(unsigned char key) {
    if (key == 27 || key == 8) {
        stopWatching();
        return;
    }
    if (key >= '0' && key <= '9') {
        typeChannelDigit(key - '0');
        return;
    }
    if (key == 13) {
        if (glutGetModifiers() & GLUT_ACTIVE_SHIFT) {
            stopWatching();
            stopPlaying();
            openChannel();
        } else {
            // A number being typed is gone to now; the timer then follows it.
            finishTypedNumber();
        }
    }
}

}  // namespace

bool watching() { return watch.watching; }

void openChannelHere() {
    // A channel number still being typed is gone to first.
    finishTypedNumber();
    // The player starts only for a stream: a root of web pages never needs it.
    const std::optional<ChannelEntry> selected = peekSelectedChannel();
    if (selected && selected->entry.kind == mediaAddress && playerAvailable()) {
        advanceLaunchCounter();
        startWatching();
        return;
    }
    openChannel();
}

void onPlayKeyboard(unsigned char key, int x, int y) {
    if (watch.watching) {
        puKeyboard(key, PU_DOWN);
        glutPostRedisplay();
        onKeyWhileWatching(key);
        return;
    }
    if (key == 13 && !(glutGetModifiers() & GLUT_ACTIVE_SHIFT)) {
        puKeyboard(key, PU_DOWN);
        glutPostRedisplay();
        openChannelHere();
        return;
    }
    // Esc on the wall ends the program: the player goes first, while the
    // window's graphics context is current.
    if (key == 27) onPlayerWindowClose();
    onKeyboard(key, x, y);
}

void onPlaySpecialKey(int key, int x, int y) {
    if (!watch.watching) {
        onSpecialKey(key, x, y);
        return;
    }
    puKeyboard(key + PU_KEY_GLUT_SPECIAL_OFFSET, PU_DOWN);
    glutPostRedisplay();
    if (key == GLUT_KEY_UP || key == GLUT_KEY_PAGE_UP) zap(-1);
    if (key == GLUT_KEY_DOWN || key == GLUT_KEY_PAGE_DOWN) zap(1);
}

bool pollPlayback(const SelectionSpot& spot) {
    bool frameDue = false;
    const long long time = now();
    if (watch.watching) {
        if (watch.adoptSpot) {
            watch.watchedSpot = spot;
            watch.adoptSpot = false;
        } else if (!sameSpot(spot, watch.watchedSpot)) {
            // A typed number moved the selection: its channel plays.
            watch.watchedSpot = spot;
            watchSelected();
            frameDue = true;
        }
    } else {
        const bool moved = noteSelection(previewTimer, spot, time);
        if (watch.resumePreview) {
            watch.resumePreview = false;
            previewTimer.started = true;
            watch.previewing = spot.tile != 0;
            watch.previewTile = spot.tile;
            if (!watch.previewing) stopPlaying();
            frameDue = true;
        } else if (moved && (watch.previewing || playerPlaying())) {
            stopPlaying();
            frameDue = true;
        }
        if (previewDue(previewTimer, time)) {
            previewTimer.started = true;
            startPreview(spot.tile);
        }
    }
    const PlayerNews news = takePlayerNews();
    if (news.newPicture) frameDue = true;
    if (news.fault == PlaybackFault::unreachable && playNextAlternative()) {
        // A channel's address nobody answers at: its next alternative.
        frameDue = true;
    } else if (news.fault != PlaybackFault::none) {
        if (watch.watching) {
            watch.fault = news.fault;
            announce(false, 0);
        } else {
            stopPlaying();
        }
        frameDue = true;
    }
    return frameDue;
}

void preparePlayingTile() {
    if (watch.watching || !watch.previewing || watch.previewTile == 0) {
        playingTile = 0;
        playingTexture = 0;
        return;
    }
    playingTexture = drawPlayerIntoTexture(previewWidth, previewHeight);
    playingTile = playingTexture != 0 ? watch.previewTile : 0;
}

void drawWatching(int width, int height) {
    if (watch.fault == PlaybackFault::none) {
        drawPlayerIntoWindow(width, height);
        return;
    }
    // A channel that cannot be watched: its message on a black window, in
    // the window's own stroke font, as wide as a third of the window at most.
    const std::string message = faultMessage(watch.fault, watch.channel.channel);
    const auto* text = reinterpret_cast<const unsigned char*>(message.c_str());
    const float length = static_cast<float>(glutStrokeLength(GLUT_STROKE_ROMAN, text));
    float scale = 0.22f;
    if (length * scale > width * 0.9f) scale = width * 0.9f / length;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3f(1, 1, 1);
    glLineWidth(2);
    glTranslatef((width - length * scale) / 2, height / 2.0f - 10, 0);
    glScalef(scale, scale, 1);
    glutStrokeString(GLUT_STROKE_ROMAN, text);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void onPlayerWindowClose() {
    announce(false, 0);
    endPlayer();
}
