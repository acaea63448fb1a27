// Opening the selected channel, and the URL directory of all channels.
#pragma once

#include <optional>
#include <string>

// The address of the product's own web page, opened on launch counts 1 and 10.
extern const std::string productWebPage;

// Loads the URL directory from `path` (one "<link number>\t<address>" per
// line). Called once; later calls reload.
void loadUrlDirectory(const std::string& path = "VESTRALUME/links.tsv");

// The address of a link number, or none.
std::optional<std::string> findUrl(int linkNumber);

// Turns the selected tile into a web address through the state files and
// hands it to the desktop's default handler.
void openSelectedChannel();
