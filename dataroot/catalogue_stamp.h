// Telling, cheaply and without reading it, that another catalogue was
// switched in: every import that changes the catalogue writes a new count
// record (VESTRALUME/1/count.txt) in the folder it switches into place, so
// the record's time and size change with it; the background card maker,
// which replaces cards inside the catalogue, never touches it.
#pragma once

#include <string>
#include <vector>

// The stamp of a file: its modification time to the system's precision and
// its size; "-" when it does not exist. Two reads of an unchanged file give
// the same text.
std::string fileStamp(const std::string& path);

// The stamp of the catalogue of the data root under `folder` (empty: the
// working directory): the count record's.
std::string catalogueStamp(const std::string& folder = "");

// The page of the catalogue kept inside a catalogue whose pages start at
// most at `lastFirst`: a page whose first number lies past it moves back to
// it, one that starts below 1 moves to 1, any other stays as it is. A page
// moved is a whole page from its first number on.
std::vector<int> pageKeptInside(const std::vector<int>& page, int lastFirst);
