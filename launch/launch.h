// Opening the selected channel, and the URL directory of all channels.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "dataroot/data_root.h"
#include "dataroot/url_directory_file.h"

// The address of the product's own web page, opened on launch counts 1 and 10.
extern const std::string productWebPage;


// Loads the URL directory from `path` (lines as dataroot/url_directory_file.h
// describes them). A line that is malformed, repeats a link number already
// read or holds an address its kind does not allow (an address over 2048
// bytes among them) is skipped, the first 50 such lines with a report line
// each on standard output and the rest with one line counting them; the rest
// still loads. A file that is missing or cannot be read
// (dataroot/safe_file.h: a regular file of at most tableFileLimit bytes)
// leaves the directory empty. findUrl loads the default path on first use; a later call
// reloads.
void loadUrlDirectory(const std::string& path = urlDirectoryFile);

// The entry of a link number, or none (numbers without a valid line in the
// table).
std::optional<DirectoryEntry> findDirectoryEntry(int linkNumber);

// The address of a link number, or none.
std::optional<std::string> findUrl(int linkNumber);

// Hands `address` to the desktop's default handler when isSafeWebAddress
// accepts it; any other address is dropped.
void openWebAddress(const std::string& address);

// The longest channel name handed to a media player, in bytes.
constexpr size_t maxChannelNameLength = 256;

// The channel's name in the text of its link file ("<link number>\n<name>\n"):
// the second line, taken as UTF-8 text from an untrusted file: bytes that
// are not well-formed UTF-8 and control characters (C0, DEL, C1, line and
// paragraph separators, bidirectional controls) are dropped, a tab becomes a
// space, spaces at both ends go, and at most maxChannelNameLength bytes are
// kept, cut between characters. Empty when the file has no second line.
std::string channelName(const std::string& linkFileText);

// The argument vector that starts media player `player` ("mpv", "vlc",
// "celluloid" or "totem"), found at `program`, on `address`: its fullscreen
// options, the title options with `title` where the player has them and
// the title is not empty, then "--" and the address as one argument.
std::vector<std::string> mediaPlayerCommand(const std::string& player, const std::string& program,
                                            const std::string& address, const std::string& title);

// Plays a media address that isSafeMediaAddress accepts (any other is
// dropped). The player started for the media channel opened before is ended
// first, if it still runs (only that process). Then the first of mpv, vlc,
// celluloid and totem found on PATH plays it, with `title` as the window
// title where the player allows. With none of them an http or https address
// goes to the desktop's default handler, and any other one opens nothing: a
// line on standard error says that a media player is needed.
void openMediaAddress(const std::string& address, const std::string& title);

// Whether the player started by openMediaAddress still runs.
bool mediaPlayerRunning();
// A channel of a list with what the URL directory holds for it.
struct ChannelEntry {
    long long channel = 0;  // its number in its list; 0 when not told (a tile outside the rows)
    int linkNumber = 0;
    DirectoryEntry entry;
    std::string name;  // the second line of its link file, as channelName gives it
};

// Channel `channel` of list `list`, read from its link file without writing
// anything: none when the channel is outside the list or its link number has
// no entry in the URL directory.
std::optional<ChannelEntry> peekChannel(int list, long long channel);

// The channel on the selected tile of the current list, read the same way;
// none also when no tile 1 to 12 is selected or the page cannot be read.
std::optional<ChannelEntry> peekSelectedChannel();

// Turns the selected tile into a channel through the state files, exactly as
// openSelectedChannel does (npt.txt and hl.txt are written as there), and
// opens nothing. None where openSelectedChannel would open nothing.
std::optional<ChannelEntry> resolveSelectedChannel();

// Turns the selected tile into an address through the state files and opens
// it: a web page with the desktop's default handler (openWebAddress), a
// media address in a media player (openMediaAddress, titled with the name
// in the link file's copy). Opens nothing when the current list's page file
// is missing or holds fewer than 12 numbers, or when the link number has no
// entry in the URL directory.
void openSelectedChannel();

// Opens channel `channel` of `list` (1 or 2) as openSelectedChannel opens
// the selected one, through npt.txt and hl.txt: what Enter does on a
// channel found by name. A channel the list does not hold opens nothing.
void openListChannel(int list, int channel);
