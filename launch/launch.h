// Opening the selected channel, and the URL directory of all channels.
#pragma once

#include <optional>
#include <string>

// The address of the product's own web page, opened on launch counts 1 and 10.
extern const std::string productWebPage;

// Link numbers run from 1 to this; the directory has no other entries.
constexpr int maxLinkNumber = 1290;

// Loads the URL directory from `path` (one "<link number>\t<address>" per
// line; blank lines and lines starting with '#' are skipped). A line that is
// malformed, repeats a link number already read or holds an address that
// isSafeWebAddress refuses is skipped with a report line on standard output;
// the rest still loads. A missing file leaves the directory empty. findUrl
// loads the default path on first use; a later call reloads.
void loadUrlDirectory(const std::string& path = "VESTRALUME/links.tsv");

// The address of a link number, or none (numbers outside 1 to 1290, and
// numbers without a valid line in the table).
std::optional<std::string> findUrl(int linkNumber);

// Whether an address may be handed to the desktop: "https://", a host, and
// nothing but printable ASCII without spaces. Nothing else reaches the
// desktop's handler, so no data file can make it run a program or open a
// local file.
bool isSafeWebAddress(const std::string& address);

// Hands `address` to the desktop's default handler when isSafeWebAddress
// accepts it; any other address is dropped.
void openWebAddress(const std::string& address);

// Turns the selected tile into a web address through the state files and
// hands it to the desktop's default handler. Opens nothing when the current
// list's page file is missing or holds fewer than 12 numbers, or when the
// link number has no entry in the URL directory.
void openSelectedChannel();
