// The import record: a note, kept in the card cache, of the catalogue an
// import last left in a data root: what it was made from, and how its folder
// stood on the disk right after. Importing the same playlist again compares
// both and, when neither changed, knows that the catalogue would come out
// exactly as it is, without making a single card or reading it back.
#pragma once

#include <string>
#include <vector>

#include "cards/cards.h"

// What a catalogue is made from: its cards as the card maker would make them
// now (see cardsDigestFromCache) and the link number of every channel, with
// the newest change time of their card cache entries. Empty when the cards
// cannot be told without fetching or reading a logo, or a cache entry is no
// regular file.
std::string catalogueMadeFrom(const std::vector<CardRequest>& cards, const std::vector<int>& links,
                              const CardOptions& options);

// How the catalogue folder of `channels` channels stands on the disk: the
// folder, its count record and the link file and card of every channel, with
// sizes, change times and file identities. Empty when one of them is missing
// or the folder cannot be read.
std::string catalogueFingerprint(const std::string& catalogueFolder, int channels);

// Whether the record of the data root folder `root` (the VESTRALUME folder)
// says that its catalogue was made from `madeFrom` and stands as
// `fingerprint`.
bool importRecordMatches(const std::string& root, const CardOptions& options,
                         const std::string& madeFrom, const std::string& fingerprint);

// Keeps that record for the root; when it cannot, the next import of the
// same playlist just does the whole work again.
void keepImportRecord(const std::string& root, const CardOptions& options,
                      const std::string& madeFrom, const std::string& fingerprint);
