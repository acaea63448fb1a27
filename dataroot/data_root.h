// The data root VESTRALUME/: the names of its files, the numbers that shape
// the wall and the catalogue, and the catalogue's channel count. Shared by
// the viewer and every tool; nothing here touches OpenGL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The data root's folder name; every other spelling of it is made from this
// one. A constant expression, so that values made from it before main runs
// do not depend on the order in which files are initialised.
constexpr char rootFolderName[] = "VESTRALUME";

// The data root and its state folder, relative to the working directory.
extern const std::string dataRoot;     // "VESTRALUME/"
extern const std::string stateFolder;  // "VESTRALUME/n/"

// The lists a wall shows, by the number of their folder VESTRALUME/<list>/
// and of their page file: the catalogue, the favourites, and the channels
// found by typing their names (nav/find.h; its page file holds places in
// the list of matches, 1 for the best).
enum List : int { catalogueList = 1, favouritesList = 2, findList = 3 };

// A scroll's direction as the direction file records it.
enum Direction : int { forwardDirection = 1, backwardDirection = 2 };

// The state files of VESTRALUME/n/ other than the page files (pageFile) and
// the tile path files (tilePathFile).
enum class StateFile {
    selectedTile,          // b.txt: 1 to 12
    wallScale,             // u.txt
    scrollDirection,       // nn.txt: a Direction
    backwardRotation,      // 1c.txt: the rotation counter after a backward scroll, 1 to 16
    forwardRotation,       // 2c.txt: the same after a forward scroll (both shared by the lists)
    launchCounter,         // h.txt: 1 to 20
    favouritesCount,       // d.txt
    removedFavourite,      // dd.txt: the thumbnail path of the slot freed last
    favouriteSource,       // npi.txt: the thumbnail path of the channel being added
    linkPath,              // npt.txt: the link file path of the selected channel
    favouriteTargetImage,  // nppi.txt: where the added thumbnail goes
    favouriteTargetLink,   // nppt.txt: where the added link file goes
    linkCopy,              // hl.txt: the link number of the channel opened last
};

// One state file: its name in VESTRALUME/n/ and what it holds, in words.
struct StateFileName {
    StateFile file;
    const char* name;
    const char* meaning;
};

// Every StateFile, in the order of the enumeration.
extern const StateFileName stateFileNames[13];

// "VESTRALUME/n/<name>" of one state file.
std::string stateFile(StateFile file);

// What the state file holds, in words ("selected tile").
const char* stateFileMeaning(StateFile file);

// The models of VESTRALUME/n/, in the order the scene loads them: material
// libraries read by earlier models are known to later ones. The wall draws
// the tile and the selection model with a texture of its own on every face;
// the others are read for their report and images only.
struct SceneModel {
    const char* name;
    const char* meaning;
    bool drawn;
};
extern const SceneModel sceneModels[5];
constexpr int tileModelIndex = 3;       // rp.txt
constexpr int selectionModelIndex = 4;  // mp.txt

// What a scene model of a sound data root keeps to: the rules the data
// root's format sets and its checker enforces. The model reader itself
// takes any length and any number of corners, since a model file may come
// from anywhere; these bounds say what the delivered models, and models
// made for the program, stay within.
constexpr size_t maxModelLine = 254;    // characters in one line
constexpr size_t maxMaterialName = 19;  // characters in a material's name
constexpr int maxFaceCorners = 10;      // corners of one face
constexpr size_t maxCornerIndexLength = 11;  // characters of one index of a face corner

// The size of thumbnails, cards and placeholder images: powers of two, so
// the mipmap builder needs no rescale, and the tiles' aspect ratio.
constexpr int thumbnailWidth = 256;
constexpr int thumbnailHeight = 128;

// The placeholder images VESTRALUME/i/1.jpg to 32.jpg: one per tile of the
// two lists (placeholderPath).
constexpr int placeholderCount = 32;

// The template files VESTRALUME/n/1.txt to 20.txt, each holding its own
// number: counters are set by copying one over them.
constexpr int templateCount = 20;

// "VESTRALUME/<list>/<channel>.Quillon"
std::string thumbnailPath(int list, int channel);
// "VESTRALUME/<list>/<channel>.txt"
std::string linkPath(int list, int channel);

// "VESTRALUME/n/z1.txt", "VESTRALUME/n/z2.txt" or, for the found channels,
// "VESTRALUME/n/z3.txt"
std::string pageFile(int list);
// "VESTRALUME/n/n<k>.txt" for list 1, "VESTRALUME/n/n<k>b.txt" for list 2,
// "VESTRALUME/n/n<k>c.txt" for the found channels
std::string tilePathFile(int list, int tile);
// "VESTRALUME/i/<k>.jpg"
std::string placeholderPath(int k);
// "VESTRALUME/n/<name>"
std::string stateFile(const std::string& name);
// "VESTRALUME/links.tsv"
extern const std::string urlDirectoryFile;

// The wall: 16 tiles in rows of four, the top three rows selectable. A
// scroll moves a page by one row.
constexpr int wallTiles = 16;
constexpr int selectableTiles = 12;
constexpr int pageStep = 4;

// The delivered catalogue and the favourites list hold 2004 channels; their
// last page starts at 1989 (channels 1989 to 2004, the last row not
// selectable).
constexpr int deliveredChannelCount = 2004;
constexpr int deliveredLastFirstChannel = 1989;

// Link numbers below this are reserved for the directory entries delivered
// with the program, so a newer package can deliver more of them; entries
// added by importing a playlist take numbers from here on.
constexpr int firstImportedLink = 10000;

// A catalogue imported from a playlist records its size in this file:
// "VESTRALUME/1/count.txt", one decimal number. It lives in the catalogue's
// own folder, so switching a new catalogue folder into place switches its
// count with it. A root without it holds the delivered catalogue.
extern const std::string channelCountFile;

// The largest channel count a catalogue may record.
constexpr int maxChannelCount = 10000000;

// The recorded channel count of the catalogue under `folder` (the folder
// holding VESTRALUME/; empty for the working directory): a decimal number
// from 1 to maxChannelCount, or none when the file is missing or holds
// anything else.
std::optional<int> readChannelCount(const std::string& folder = "");

// The last first channel number a page of `count` channels scrolls to, so
// that the last channel stands on a selectable row:
// 1 + 4 * ceil(max(0, count - 12) / 4).
int lastFirstChannelFor(int count);

// Where forward scrolling of `list` stops: lastFirstChannelFor the recorded
// count for an imported catalogue, deliveredLastFirstChannel otherwise.
int lastFirstChannel(int list, const std::optional<int>& recordedCount);

// Whether channel `channel` of `list` exists: in an imported catalogue, 1 to
// its count; everywhere else every number a page holds (the delivered lists
// have files for every number scrolling reaches).
bool channelExists(int list, int channel, const std::optional<int>& recordedCount);
