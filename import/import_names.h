// The searchable names of an imported playlist: every name and group
// transliterated to Latin letters with ICU ("Первый канал" also as "pervyj
// kanal" and "pervyy kanal", "中央" as "zhong yang" and "zhongyang") and
// folded, for the index the importer writes beside the catalogue
// (dataroot/name_index.h), so the viewer searches every script without ICU.
#pragma once

#include <string>
#include <vector>

#include "dataroot/name_index.h"
#include "import/playlist.h"

// The spellings of a name or group, folded and joined as NameEntry holds
// them: the text transliterated to Latin ("Any-Latin; Latin-ASCII"), the
// same with the syllables of each of its words run together where the
// transliteration split them, and for Cyrillic words the Russian BGN/PCGN
// spelling. Text that is ASCII already is only folded.
std::string searchableNames(const std::string& text);

// The entries of the channels 1 to entries.size(), in playlist order. Words
// met before are not transliterated again.
std::vector<NameEntry> nameEntriesOf(const std::vector<PlaylistEntry>& entries);
