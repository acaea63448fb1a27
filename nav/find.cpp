#include "nav/find.h"

#include <algorithm>
#include <vector>

#include "assets/texture.h"
#include "dataroot/name_index.h"
#include "nav/commands.h"
#include "nav/found.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

struct FindState {
    bool active = false;
    int sourceList = 1;
    std::optional<int> returnTile;   // b.txt when find mode opened
    std::string query;
    std::string searched;            // the query the matches are for
    std::vector<NameEntry> names;    // the searched list's channels
    std::vector<int> matches;        // places in names, best first
    long shown = 0;
};

FindState finding;

// The names of a list: an imported catalogue's index, made at import with
// the transliterations of every script; otherwise (the delivered catalogue,
// the favourites, a catalogue imported before there were indexes) the names
// in the link files, folded as they are.
std::vector<NameEntry> namesOfList(int list) {
    if (list == 2) {
        // The favourites the favourites' wall can show, whatever d.txt says:
        // a count edited far beyond them costs neither time nor memory.
        const std::optional<int> count = readInt(stateFile(StateFile::favouritesCount));
        return namesFromLinkFiles(2, count && *count > 0 ? std::min(*count, deliveredChannelCount) : 0);
    }
    const std::optional<int> count = readChannelCount();
    if (!count) return namesFromLinkFiles(1, deliveredChannelCount);
    if (std::optional<std::vector<NameEntry>> index = readNameIndex("", *count)) return std::move(*index);
    return namesFromLinkFiles(1, *count);
}

// The page of the first matches, the best selected, on the wall.
void showMatches() {
    std::vector<int> channels;
    channels.reserve(finding.matches.size());
    for (int position : finding.matches)
        channels.push_back(finding.names[static_cast<size_t>(position)].channel);
    showFoundChannels(finding.sourceList, std::move(channels));
    std::vector<int> page;
    for (int place = 1; place <= wallTiles; ++place) page.push_back(place);
    writeText(pageFile(findList), formatIntList(page));
    setFromTemplate(1, stateFile(StateFile::selectedTile));
    currentList = findList;
    buildPage(findList);
    ++finding.shown;
}

void search() {
    if (narrowsSearch(finding.searched, finding.query))
        finding.matches = findMatches(finding.names, finding.query, &finding.matches);
    else
        finding.matches = findMatches(finding.names, finding.query);
    finding.searched = finding.query;
    showMatches();
}

}  // namespace

bool findActive() { return finding.active; }

void openFind() {
    if (finding.active || (currentList != catalogueList && currentList != favouritesList)) return;
    forgetTypedNumber();
    finding.active = true;
    finding.sourceList = currentList;
    finding.returnTile = readInt(stateFile(StateFile::selectedTile));
    finding.query.clear();
    finding.searched.clear();
    finding.matches.clear();
    finding.names = namesOfList(finding.sourceList);
    showMatches();
}

void leaveFind() {
    if (!finding.active) return;
    finding.active = false;
    dropFoundChannels();
    finding.names = std::vector<NameEntry>();
    finding.matches = std::vector<int>();
    finding.query.clear();
    finding.searched.clear();
    ++finding.shown;
    // The found channels' tiles give their textures back to the registry.
    for (int tile = 1; tile <= wallTiles; ++tile) {
        releaseTexture(tileTextures[findList][tile]);
        tileTextures[findList][tile] = nullptr;
        thumbnailRefresh[findList][tile] = false;
        blankTiles[findList][tile] = false;
    }
    currentList = finding.sourceList;
    const std::optional<int> tile = finding.returnTile;
    if (tile && *tile >= 1 && *tile <= selectableTiles) setFromTemplate(*tile, stateFile(StateFile::selectedTile));
    buildPage(currentList);
}

bool onFindKey(unsigned char key) {
    if (!finding.active) return false;
    switch (key) {
        case 13:  // Enter opens the selected match, as on the wall
            return false;
        case 27:  // Esc
            leaveFind();
            return true;
        case 8:  // Backspace
            if (finding.query.empty()) {
                leaveFind();
            } else {
                finding.query.pop_back();
                search();
            }
            return true;
        default:
            break;
    }
    // Letters, digits, spaces and the other printable characters; a
    // character that folds to nothing (punctuation) still separates words.
    if (key >= 32 && key < 127 && finding.query.size() < maxQueryLength) {
        finding.query += static_cast<char>(key);
        search();
    }
    return true;
}

void setFindQuery(const std::string& query) {
    if (!finding.active) return;
    finding.query.clear();
    for (char c : query)
        if (c >= 32 && c < 127 && finding.query.size() < maxQueryLength) finding.query += c;
    search();
}

const std::string& findQuery() { return finding.query; }

long findShown() { return finding.shown; }

std::string findBarText() {
    std::string text = "Find: " + finding.query + "_";
    const std::string folded = foldName(finding.query);
    if (folded.empty())
        text += "    type a name, group or number";
    else if (finding.matches.empty())
        text += "    no channel found";
    else
        text += "    " + std::to_string(finding.matches.size()) +
                (finding.matches.size() == 1 ? " channel" : " channels");
    return text;
}
