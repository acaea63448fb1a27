// Which files of a data root belong to whom: the delivered files that come
// with the program (models, scene images, templates, the delivered
// catalogue and directory entries) and the files the user's runs own (state
// files, favourites, an imported catalogue, imported directory entries).
#pragma once

#include <string>

// Whether `name` (a file name in VESTRALUME/n/) is one of the template files
// 1.txt to 20.txt.
bool isTemplateName(const std::string& name);

// Whether a file, named relative to the data root (for example "n/b.txt"), is
// user-interface state that a running program changes, as opposed to
// delivered data (templates, models, materials, the URL directory).
bool isStateFile(const std::string& relativePath);

// The file in the data root that names the version of the program whose
// template the root was made from: "VESTRALUME/version.txt", relative to
// the data root "version.txt".
extern const std::string rootVersionFile;

// Compares two dotted version numbers ("0.2.0" < "0.10.0"); a missing or
// malformed version counts as older than any real one. Negative, zero or
// positive like strcmp.
int compareVersions(const std::string& a, const std::string& b);
