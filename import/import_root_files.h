// The importer's reads of the data root it imports into. The root is plain
// files anyone can edit, so every read goes through the safe reader
// (dataroot/safe_file.h): regular files only, opened without blocking,
// within the cap of their kind, and resolved beneath the root, so a link
// that leads out of it is never read through.
#pragma once

#include <cstddef>
#include <string>

#include "dataroot/safe_file.h"

// Reads `path`, a path below the data root `root` as the importer builds
// them (`root` joined with the names below it), into `bytes`. A path that is
// not below `root` by its text is fileOutside; the rest as readFileBeneath.
FileOutcome readImportRootFile(const std::string& root, const std::string& path, std::size_t limit,
                               std::string& bytes);

// The same, as the bytes read, or empty when the file cannot be read.
std::string readImportRootFile(const std::string& root, const std::string& path, std::size_t limit);

// The first of the folders the importer writes into below `root` (the state
// folder n/ and the catalogue 1/) that is a symbolic link leading out of the
// root, as its path; empty when none does. An import refuses such a root, so
// nothing outside it is ever written.
std::string importFolderLeadingOutside(const std::string& root);

#include <vector>

#include "import/import_links.h"

// The link files in use in the data root `root`: the catalogue's 1.txt to
// <catalogueCount>.txt and every favourite's link file in 2/. Files that
// cannot be read or hold no number are left out.
std::vector<LinkUse> linkFilesInUse(const std::string& root, int catalogueCount);
