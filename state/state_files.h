// State files: the small text files under VESTRALUME/n/ through which every
// event reads and writes the user-interface state, and the operations on
// them. Nothing here touches OpenGL.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Which characters a path read back from a state file may hold.
//   narrowScan: letters, digits, the characters from space to '/', ':', '=', '?'
//   wideScan:   the same and '_'
enum ScanSet { narrowScan, wideScan };

// The longest path text that readPath returns (a buffer of 1 KiB).
constexpr size_t maxPathLength = 1023;

// Every reader here reads the file as dataroot/safe_file.h says: without
// blocking, and only a regular file of at most stateFileLimit bytes; a FIFO,
// a device, a folder, a link out of the data root or a larger file reads as
// a missing one.

// The first integer of the file (leading white space skipped, optional sign,
// digits), or no value when the file cannot be opened, does not start with a
// number, or the number does not fit an int.
std::optional<int> readInt(const std::string& path);

// The same for one floating-point number, read as single precision.
std::optional<float> readFloat(const std::string& path);

// The first `count` whitespace-separated integers of a page file, or no value
// when the file cannot be opened or holds fewer than `count` of them.
std::optional<std::vector<int>> readIntList(const std::string& path, int count);

// The longest leading run of characters of `set` in the file, at most
// maxPathLength of them; nothing is skipped before the run. Empty when the
// file is missing, empty or starts with a character outside the set.
std::string readPath(const std::string& path, ScanSet set);

// Replaces the file's content with `text` exactly (no line end added). The
// new content is written to a temporary file beside it and renamed over it,
// so the file is never seen truncated or half-written; a failed write leaves
// the old content.
bool writeText(const std::string& path, const std::string& text);

// Copies the bytes of `source` over `target` in one step; when the copy
// fails the target keeps its previous content. Both must be files of the
// data root ("VESTRALUME/...", never leading out of it) or plain names of
// files in the working directory (never links); any other path (absolute,
// "..", another folder) copies nothing.
bool copyOver(const std::string& source, const std::string& target);

// Sets a counter-like state file to k by copying template file
// VESTRALUME/n/<k>.txt over it.
bool setFromTemplate(int k, const std::string& target);

// Whether `c` belongs to the scan set.
bool inScanSet(unsigned char c, ScanSet set);

// The text of a page file: the numbers in order, each but the last followed
// by a line end.
std::string formatIntList(const std::vector<int>& numbers);

// A floating-point value as the stream's default formatting writes it: at
// most six significant digits, exponent notation for very small or large
// magnitudes (like %g).
std::string formatFloat(double value);
