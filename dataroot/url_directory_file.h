// The URL directory file VESTRALUME/links.tsv: one entry a line,
//   "<link number>\t<address>"          a web page (the delivered entries)
//   "<link number>\t<address>\tmedia"   a media address (imported entries)
// Blank lines and lines starting with '#' are not entries. A link number is
// never given to a second address: an import drops media entries that
// nothing names any more, and moves an entry to its channel's new address
// only when a provider's token in the query changed (import/import_links.h).
#pragma once

#include <string>

enum LinkKind { webPage, mediaAddress };

struct DirectoryEntry {
    int link = 0;
    std::string address;
    LinkKind kind = webPage;
};

// The longest address the directory accepts, in bytes.
constexpr size_t maxAddressLength = 2048;

// The largest link number a directory line may carry.
constexpr int maxDirectoryLink = 99999999;

// The delivered directory's web pages hold the link numbers 1 to this;
// entries added by importing playlists take the numbers after them.
constexpr int deliveredLinkCount = 1290;

// What reading one line of the directory found.
enum DirectoryLine {
    directoryEntry,         // an entry, stored in `entry`
    directoryComment,       // blank or '#': not an entry
    directoryMalformed,     // no "<number>\t<address>" shape, or a number out of range
    directoryUnsafeAddress  // an address its kind does not allow
};

// Why a line is not an entry the program uses, finer than DirectoryLine:
// the checker names each in its own words.
enum class DirectoryRefusal {
    none,              // an entry or a comment
    notEntryShape,     // no TAB, or a first field that is not a link number's digits
    unknownThirdField, // a third field other than "media"
    linkOutOfRange,    // digits, but a number outside 1 to maxDirectoryLink
    unsafeAddress      // an address its kind does not allow
};

// What reading one line found, with the parts read so far.
struct DirectoryLineReading {
    DirectoryLine line = directoryComment;
    DirectoryRefusal refusal = DirectoryRefusal::none;
    // The link number, address and kind as written: set for an entry, for
    // an unsafe address and (number and kind only) for a number out of
    // range. The number can be 0 or above maxDirectoryLink only then.
    long long link = 0;
    std::string address;
    LinkKind kind = webPage;
};

// Reads one line (without its line end; a trailing carriage return is
// ignored). Its first field is a link number: 1 to 8 decimal digits; 9
// digits without a leading zero are read as a number out of range.
DirectoryLineReading readDirectoryLine(const std::string& line);

// Reads one line as readDirectoryLine does; an entry is stored in `entry`.
DirectoryLine parseDirectoryLine(const std::string& line, DirectoryEntry& entry);

// The line for an entry, without a line end.
std::string formatDirectoryLine(const DirectoryEntry& entry);

// Whether an address may be handed to the desktop as a web page:
// "https://", a host, nothing but printable ASCII without spaces, at most
// maxAddressLength bytes. Nothing else reaches the desktop's handler, so no
// data file can make it run a program or open a local file.
bool isSafeWebAddress(const std::string& address);

// Whether an address may be handed to a media player: one of the schemes
// http, https, rtmp, rtmps, rtsp, udp, rtp, mms (lower case), "://", a host
// (for udp and rtp an empty host before '@' or ':' as in "udp://@239.0.0.1:1234"
// is allowed), nothing but printable ASCII without spaces, at most
// maxAddressLength bytes.
bool isSafeMediaAddress(const std::string& address);

// The scheme of an address, up to but not including "://"; empty when none.
std::string addressScheme(const std::string& address);
