// Opening the selected channel, and the URL directory of all channels.
#pragma once

#include <optional>
#include <string>

#include "catalogue/url_directory_file.h"

// The address of the product's own web page, opened on launch counts 1 and 10.
extern const std::string productWebPage;

// The delivered directory's link numbers run from 1 to this; importing a
// playlist adds entries after them.
constexpr int maxLinkNumber = 1290;

// Loads the URL directory from `path` (lines as catalogue/url_directory_file.h
// describes them). A line that is malformed, repeats a link number already
// read or holds an address its kind does not allow (an address over 2048
// bytes among them) is skipped, the first 50 such lines with a report line
// each on standard output and the rest with one line counting them; the rest
// still loads. A file that is missing or cannot be read (catalogue/
// safe_file.h: a regular file of at most tableFileLimit bytes) leaves the
// directory empty. findUrl loads the default path on first use; a later call
// reloads.
void loadUrlDirectory(const std::string& path = "VESTRALUME/links.tsv");

// The entry of a link number, or none (numbers without a valid line in the
// table).
std::optional<DirectoryEntry> findDirectoryEntry(int linkNumber);

// The address of a link number, or none.
std::optional<std::string> findUrl(int linkNumber);

// Hands `address` to the desktop's default handler when isSafeWebAddress
// accepts it; any other address is dropped.
void openWebAddress(const std::string& address);

// Turns the selected tile into a web address through the state files and
// hands it to the desktop's default handler. Opens nothing when the current
// list's page file is missing or holds fewer than 12 numbers, or when the
// link number has no entry in the URL directory.
void openSelectedChannel();
