#include "tools/data_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>

#include "dataroot/alternatives_file.h"
#include "assets/image.h"
#include "assets/model.h"
#include "dataroot/data_root.h"
#include "dataroot/live_settings.h"
#include "dataroot/pending_cards.h"
#include "dataroot/name_index.h"
#include "import/playlist.h"
#include "dataroot/safe_file.h"
#include "dataroot/url_directory_file.h"
#include "launch/launch.h"
#include "platform/report.h"
#include "state/state_files.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t maxDeliveredAddressLength = 100;

// Link numbers whose entries open the same page; every other address of the
// directory is its own.
const std::pair<int, int> sharedLinks[] = {{25, 340},   {81, 611},  {130, 965}, {177, 490},
                                           {230, 1099}, {263, 650}, {286, 790}, {342, 590},
                                           {591, 592},  {1030, 1082}};

enum ValueKind { integerValue, floatValue, pathValue, pageValue };

struct StateFileRule {
    StateFile file;
    int pageOf;  // a page file: of this list (file is then not used)
    ValueKind kind;
    int lowest;
    int highest;
};

// The state files under VESTRALUME/n/ besides the tile path files, with the
// range of values each may hold.
const StateFileRule stateRules[] = {
    {StateFile::selectedTile, 0, integerValue, 1, selectableTiles},
    {StateFile::wallScale, 0, floatValue, 0, 0},
    {StateFile::scrollDirection, 0, integerValue, forwardDirection, backwardDirection},
    {StateFile::selectedTile, catalogueList, pageValue, 0, 0},
    {StateFile::selectedTile, favouritesList, pageValue, 0, 0},
    {StateFile::backwardRotation, 0, integerValue, 1, wallTiles},
    {StateFile::forwardRotation, 0, integerValue, 1, wallTiles},
    {StateFile::launchCounter, 0, integerValue, 1, templateCount},
    {StateFile::favouritesCount, 0, integerValue, 0, INT_MAX},
    {StateFile::removedFavourite, 0, pathValue, 0, 0},
    {StateFile::favouriteSource, 0, pathValue, 0, 0},
    {StateFile::linkPath, 0, pathValue, 0, 0},
    {StateFile::favouriteTargetImage, 0, pathValue, 0, 0},
    {StateFile::favouriteTargetLink, 0, pathValue, 0, 0},
    {StateFile::linkCopy, 0, integerValue, INT_MIN, INT_MAX},
};

// A scene model is drawn with a texture override when SceneModel::drawn
// says so: every face then needs texture coordinates.
using ModelRule = SceneModel;

enum JpegVerdict { jpegReadable, jpegDamaged, jpegOversized };

// Discards what the viewer's readers report while the checker runs them:
// the checker says what it finds in its own words.
void discardReport(ReportLevel, const std::string&) {}

// Whether the viewer's decoder takes the image up from its header, and with
// `decode` reads it whole; an image over the pixel cap is refused from its
// header, as the viewer refuses it.
JpegVerdict judgeJpeg(const std::string& bytes, bool decode) {
    if (bytes.empty()) return jpegDamaged;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    JpegFailure failure = JpegFailure::none;
    if (decode)
        decodeJpegMemory(data, bytes.size(), std::string(), &failure);
    else
        failure = probeJpegMemory(data, bytes.size());
    switch (failure) {
    case JpegFailure::none: return jpegReadable;
    case JpegFailure::oversized: return jpegOversized;
    case JpegFailure::damaged: break;
    }
    return jpegDamaged;
}

std::string pixelCapText() {
    return "larger than " + std::to_string(maxImageSide) + " x " + std::to_string(maxImageSide) +
           " pixels";
}

std::string number(long long value) { return std::to_string(value); }

bool parseIndex(const std::string& token, long long& value) {
    if (token.empty() || token.size() > maxCornerIndexLength) return false;
    size_t i = token[0] == '-' ? 1 : 0;
    if (i == token.size()) return false;
    for (; i < token.size(); ++i)
        if (token[i] < '0' || token[i] > '9') return false;
    value = std::stoll(token);
    return true;
}

int countNumbers(const std::string& text) {
    std::istringstream in(text);
    int count = 0;
    float value;
    while (in >> value) ++count;
    return count;
}

struct Checker {
    std::string folder;  // holds VESTRALUME/
    std::vector<std::string> problems;

    std::string path(const std::string& relative) const { return folder + "/" + relative; }
    void add(const std::string& problem) { problems.push_back(problem); }

    // Reads the data-root file `name` ("VESTRALUME/...") the way the viewer
    // does: beneath the root, without blocking, a regular file within
    // `limit`. Any other path leads outside.
    FileOutcome read(const std::string& name, std::size_t limit, std::string& bytes) const {
        bytes.clear();
        const std::string below = belowDataRoot(name);
        if (below.empty()) return fileOutside;
        return readFileBeneath(path(rootFolderName), below, limit, bytes);
    }
    // Whether the file can be read; when not, the reason as the end of a
    // sentence naming it ("is missing", "is not a regular file ...").
    bool readable(const std::string& name, std::size_t limit, std::string& why) const {
        std::string bytes;
        const FileOutcome outcome = read(name, limit, bytes);
        why = describeFileOutcome(outcome, limit);
        return outcome == fileRead;
    }
};

void checkTemplates(Checker& check) {
    for (int k = 1; k <= templateCount; ++k) {
        const std::string name = stateFile(number(k) + ".txt");
        std::string why;
        if (!check.readable(name, stateFileLimit, why)) {
            check.add(name + " " + why + " (template file " + number(k) + ")");
            continue;
        }
        const std::optional<int> value = readInt(check.path(name));
        if (!value || *value != k)
            check.add(name + " should hold its own number " + number(k) + " (template file)");
    }
}

void checkStateFiles(Checker& check) {
    for (const StateFileRule& rule : stateRules) {
        const std::string name = rule.pageOf ? pageFile(rule.pageOf) : stateFile(rule.file);
        const std::string meaningText =
            rule.pageOf ? "page of list " + number(rule.pageOf) : stateFileMeaning(rule.file);
        const char* meaning = meaningText.c_str();
        const std::string file = check.path(name);
        const std::string what = " (" + meaningText + ")";
        std::string why;
        if (!check.readable(name, stateFileLimit, why)) {
            check.add(name + " " + why + what);
            continue;
        }
        switch (rule.kind) {
            case integerValue: {
                const std::optional<int> value = readInt(file);
                if (!value)
                    check.add(name + " does not hold an integer" + what);
                else if (*value < rule.lowest || *value > rule.highest)
                    check.add(name + " holds " + number(*value) + "; the " + meaning +
                              " must be " +
                              (rule.highest == INT_MAX ? number(rule.lowest) + " or more"
                                                       : number(rule.lowest) + " to " +
                                                             number(rule.highest)));
                break;
            }
            case floatValue:
                if (!readFloat(file)) check.add(name + " does not hold a number" + what);
                break;
            case pathValue: {
                const std::string named = readPath(file, wideScan);
                if (named.empty())
                    check.add(name + " does not hold a path" + what);
                else if (!isDataRootPath(named))
                    check.add(name + " names " + named + ", a path outside the data root" + what);
                break;
            }
            case pageValue:
                if (!readIntList(file, wallTiles))
                    check.add(name + " does not hold 16 channel numbers" + what);
                break;
        }
    }
    // Tile path files. List 1's are loaded by the first thumbnail refresh
    // right after start-up, so the images they name must be there.
    for (int list = 1; list <= 2; ++list)
        for (int tile = 1; tile <= wallTiles; ++tile) {
            const std::string name = tilePathFile(list, tile);
            const std::string file = check.path(name);
            const std::string what = " (tile path file of tile " + number(tile) + ", list " +
                                     number(list) + ")";
            std::string why;
            if (!check.readable(name, stateFileLimit, why)) {
                check.add(name + " " + why + what);
                continue;
            }
            const std::string image = readPath(file, narrowScan);
            if (image.empty()) {
                check.add(name + " does not hold a path" + what);
            } else if (!isDataRootPath(image)) {
                check.add(name + " names " + image + ", a path outside the data root" + what);
            } else if (list == 1) {
                std::string bytes;
                const FileOutcome outcome = check.read(image, imageFileLimit, bytes);
                const JpegVerdict verdict = outcome == fileRead ? judgeJpeg(bytes, false) : jpegDamaged;
                if (outcome != fileRead)
                    check.add(name + " names " + image + ", which " +
                              describeFileOutcome(outcome, imageFileLimit));
                else if (verdict == jpegOversized)
                    check.add(name + " names " + image + ", which is " + pixelCapText());
                else if (verdict == jpegDamaged)
                    check.add(name + " names " + image + ", which is not a readable JPEG image");
            }
        }
}

// The problem of an image the viewer decodes whole, as the end of a
// sentence naming it; empty when there is none.
std::string imageProblem(const Checker& check, const std::string& name) {
    std::string bytes;
    const FileOutcome outcome = check.read(name, imageFileLimit, bytes);
    if (outcome != fileRead) return describeFileOutcome(outcome, imageFileLimit);
    switch (judgeJpeg(bytes, true)) {
    case jpegReadable: return std::string();
    case jpegOversized: return "is " + pixelCapText();
    case jpegDamaged: break;
    }
    return "is not a readable JPEG image";
}

void checkImage(Checker& check, const std::string& name, const std::string& meaning) {
    const std::string problem = imageProblem(check, name);
    if (!problem.empty()) check.add(name + " " + problem + " (" + meaning + ")");
}

void checkStartupImages(Checker& check) {
    checkImage(check, dataRoot + "t/b.jpg", "selection texture");
    for (int k = 1; k <= placeholderCount; ++k)
        checkImage(check, placeholderPath(k), "placeholder image");
}

std::vector<std::string> splitIntoLines(std::string text) {
    std::vector<std::string> lines;
    std::istringstream in(std::move(text));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void readMaterialLibrary(Checker& check, const std::string& name, const std::string& model,
                         std::set<std::string>& materials) {
    std::string text;
    const FileOutcome outcome = check.read(name, tableFileLimit, text);
    if (outcome != fileRead) {
        check.add(model + " names the material library " + name + ", which " +
                  describeFileOutcome(outcome, tableFileLimit));
        return;
    }
    const std::vector<std::string> lines = splitIntoLines(std::move(text));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, 7, "newmtl ") != 0) continue;
        const std::string material = lines[i].substr(7);
        if (material.empty() || material.size() > maxMaterialName)
            check.add(name + " line " + number(i + 1) + ": a material name must have 1 to " +
                      number(maxMaterialName) + " characters");
        else
            materials.insert(material);
    }
}

// Checks one face line, split into corners by the model reader: the corner
// count and every index against the file's counts; for a drawn model, that
// each corner has a texture coordinate, and in a file with normals, that
// each corner has a normal. Stricter than the reader, which also takes
// indices counted back from the end ("-1") and any number of corners: the
// format keeps to one-based indices and at most maxFaceCorners.
void checkFace(Checker& check, const std::string& where, const std::vector<std::string_view>& corners,
               const ModelRule& rule, const ModelCounts& counts) {
    if (corners.size() < 3 || corners.size() > static_cast<size_t>(maxFaceCorners)) {
        check.add(where + ": a face needs 3 to " + number(maxFaceCorners) + " corners");
        return;
    }
    const long long limits[3] = {counts.vertices, counts.texcoords, counts.normals};
    const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
    for (size_t c = 0; c < corners.size(); ++c) {
        const std::vector<std::string_view> parts = cornerIndexTexts(corners[c]);
        if (parts.size() > 3) {
            check.add(where + ": corner " + number(c + 1) + " has more than three indices");
            continue;
        }
        for (size_t p = 0; p < 3; ++p) {
            const bool given = p < parts.size() && !parts[p].empty();
            if (!given) {
                const bool needed = p == 0 || (p == 1 && rule.drawn) ||
                                    (p == 2 && rule.drawn && counts.normals > 0);
                if (needed)
                    check.add(where + ": corner " + number(c + 1) + " has no " + kinds[p] +
                              (p == 1 ? ", but the model is drawn with a texture"
                                      : p == 2 ? ", but the file gives normals" : ""));
                continue;
            }
            const std::string text(parts[p]);
            const bool written = text.size() <= maxCornerIndexLength &&
                                 text.find_first_not_of("0123456789") == std::string::npos;
            const int index = written ? faceIndexValue(text) : 0;
            if (index < 1 || index > limits[p])
                check.add(where + ": corner " + number(c + 1) + " names " + kinds[p] + " \"" + text +
                          "\", but the file has " + number(limits[p]));
        }
    }
}

// Checks one model line as the model reader reads it.
void checkModelLine(Checker& check, const std::string& name, const ModelLine& line,
                    const ModelRule& rule, const ModelCounts& counts, std::set<std::string>& materials) {
    const std::string where = name + " line " + number(line.number);
    if (line.text.size() > maxModelLine) {
        check.add(where + " is longer than " + number(maxModelLine) + " characters");
        return;
    }
    const std::string argument(line.argument);
    switch (line.kind) {
    case ModelLineKind::comment:
    case ModelLineKind::other:
        break;
    case ModelLineKind::materialLibrary:
        readMaterialLibrary(check, argument, name, materials);
        break;
    case ModelLineKind::material:
        if (!materials.count(argument))
            check.add(where + ": no material library read so far defines the material \"" + argument +
                      "\"");
        break;
    case ModelLineKind::image:
        if (argument != "(null)") {
            const std::string problem = imageProblem(check, argument);
            if (!problem.empty()) check.add(where + " names the image " + argument + ", which " + problem);
        }
        break;
    case ModelLineKind::vertex:
    case ModelLineKind::normal:
        if (countNumbers(argument) < 3) check.add(where + " needs three numbers");
        break;
    case ModelLineKind::texcoord:
        if (countNumbers(argument) < 2) check.add(where + " needs two or three numbers");
        break;
    case ModelLineKind::face:
        checkFace(check, where, line.corners, rule, counts);
        break;
    }
}

// Reads a scene model with the viewer's model reader, whose loaders load
// nothing here, and checks each line as the reader meets it.
void checkModel(Checker& check, const ModelRule& rule, std::set<std::string>& materials) {
    const std::string name = stateFile(rule.name);
    std::string text;
    const FileOutcome outcome = check.read(name, tableFileLimit, text);
    if (outcome != fileRead) {
        check.add(name + " " + describeFileOutcome(outcome, tableFileLimit) + " (" + rule.meaning + ")");
        return;
    }
    ModelCounts counts;
    ModelReadWatch watch;
    watch.onCounted = [&counts](const ModelCounts& counted) { counts = counted; };
    watch.onLine = [&](const ModelLine& line) { checkModelLine(check, name, line, rule, counts, materials); };
    const std::unique_ptr<Model> model(parseModel(
        text, [](const std::string&) { return -1; }, [](const std::string&) {}, watch));
    if (!model) {
        check.add(name + " could not be checked: memory ran out");
        return;
    }
    if (rule.drawn && (counts.vertices == 0 || counts.faceLines == 0))
        check.add(name + " has no faces to draw (" + rule.meaning + ")");
}

void checkModels(Checker& check) {
    std::set<std::string> materials;
    for (const ModelRule& rule : sceneModels) checkModel(check, rule, materials);
}

// The channel numbers of the files "<number><suffix>" in a list's folder.
std::set<long long> numberedFiles(const std::string& folder, const std::string& suffix) {
    std::set<long long> numbers;
    std::error_code code;
    fs::directory_iterator entry(folder, code), end;
    for (; !code && entry != end; entry.increment(code)) {
        const std::string name = entry->path().filename().string();
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        long long value = 0;
        const std::string digits = name.substr(0, name.size() - suffix.size());
        if (digits.size() > 1 && digits[0] == '0') continue;  // not a name the program builds
        if (parseIndex(digits, value)) numbers.insert(value);
    }
    return numbers;
}

// A link file: "<link number>" and, for an imported channel, a line with
// the channel's name in UTF-8.
bool hasCleanNameLine(const std::string& bytes) {
    std::istringstream in(bytes);
    std::string first, name;
    std::getline(in, first);
    if (!std::getline(in, name)) return true;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    return isValidUtf8(name) && std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}

void checkList(Checker& check, int list, const std::set<int>& links) {
    const std::string pageName = pageFile(list);
    const std::optional<std::vector<int>> page = readIntList(check.path(pageName), wallTiles);
    if (!page) return;  // reported with the state files
    // An imported catalogue records its size; scrolling stops where its last
    // channel stands on a selectable row, and tiles past it show placeholders.
    std::optional<int> count;
    if (list == 1) {
        count = readChannelCount(check.folder);
        if (!count && fs::exists(check.path(channelCountFile)))
            check.add(channelCountFile + " does not hold a channel count from 1 to " +
                      number(maxChannelCount) + " (the size of the imported catalogue)");
    }
    // A page scrolls over every row of the catalogue: a big imported
    // catalogue may pass that many numbers.
    const size_t limit = std::max<size_t>(1000000, count ? static_cast<size_t>(*count) * 5 : 0);
    const std::vector<long long> reachable =
        reachableChannels(*page, lastFirstChannel(list, count), limit);
    const std::string listName = "list " + number(list);
    if (reachable.empty()) {
        check.add(listName + ": the page in " + pageName +
                  " lies so far outside the catalogue that scrolling from it passes more "
                  "channel numbers than can be checked");
        return;
    }
    const std::string folder = check.path(dataRoot + number(list));
    // A catalogue switched in before its cards were all made: the cards not
    // made yet may be missing; the background card maker goes on with them.
    PendingCards pending;
    if (list == 1) {
        pending = readPendingCards(folder);
        if (pending.listed && !pending.problem.empty()) {
            check.add(listName + ": the list of cards still to be made, " + pending.problem +
                      "; quillon-import --make-cards cannot go on with them");
        } else if (pending.listed && count && pending.logos.size() != static_cast<size_t>(*count)) {
            check.add(listName + ": the list of cards still to be made (" + dataRoot + "1/" +
                      pendingCardListName + ") is for " + number(static_cast<long long>(pending.logos.size())) +
                      " channels, but " + channelCountFile + " counts " + number(*count));
        }
    }
    auto stillToBeMade = [&](long long channel) {
        return pending.listed && channel >= 1 && static_cast<size_t>(channel) <= pending.made.size() &&
               !pending.made[static_cast<size_t>(channel - 1)];
    };
    const std::set<long long> thumbnails = numberedFiles(folder, ".Quillon");
    const std::set<long long> linkFiles = numberedFiles(folder, ".txt");
    const long long favourites = list == 2 ? readInt(check.path(stateFile(StateFile::favouritesCount))).value_or(0) : 0;
    std::vector<long long> missing, damaged, oversized, unreadable, unlinked, badLinks, badNames,
        unreadableLinks;
    for (long long channel : reachable) {
        if (channel < INT_MIN || channel > INT_MAX ||
            !channelExists(list, static_cast<int>(channel), count))
            continue;
        const std::string base = dataRoot + number(list) + "/" + number(channel);
        std::string bytes;
        if (!thumbnails.count(channel)) {
            if (!stillToBeMade(channel)) missing.push_back(channel);
        } else if (check.read(base + ".Quillon", imageFileLimit, bytes) != fileRead) {
            unreadable.push_back(channel);
        } else {
            const JpegVerdict verdict = judgeJpeg(bytes, false);
            if (verdict == jpegDamaged) damaged.push_back(channel);
            if (verdict == jpegOversized) oversized.push_back(channel);
        }
        if (!linkFiles.count(channel)) {
            // The favourites above the count are empty slots; a link file
            // there is copied in when a favourite is added.
            if (list == 1 || channel <= favourites) unlinked.push_back(channel);
            continue;
        }
        if (check.read(base + ".txt", stateFileLimit, bytes) != fileRead) {
            unreadableLinks.push_back(channel);
            continue;
        }
        std::istringstream linkText(bytes);
        int link = 0;
        if (!(linkText >> link) || !links.count(link)) badLinks.push_back(channel);
        if (!hasCleanNameLine(bytes)) badNames.push_back(channel);
    }
    const std::string prefix = listName + " (" + dataRoot + number(list) + "/): ";
    if (!missing.empty())
        check.add(prefix + "no thumbnail for channel numbers " + describeNumbers(missing) +
                  ", which the page in " + pageName + " reaches by scrolling");
    if (!damaged.empty())
        check.add(prefix + "the thumbnails of channel numbers " + describeNumbers(damaged) +
                  " are not readable JPEG images");
    if (!oversized.empty())
        check.add(prefix + "the thumbnails of channel numbers " + describeNumbers(oversized) +
                  " are " + pixelCapText() + "; the wall shows their placeholders");
    if (!unreadable.empty())
        check.add(prefix + "the thumbnails of channel numbers " + describeNumbers(unreadable) +
                  " cannot be read (not regular files, larger than " +
                  std::to_string(imageFileLimit >> 20) +
                  " MiB, or leading out of the data root)");
    if (!unreadableLinks.empty())
        check.add(prefix + "the link files of channel numbers " + describeNumbers(unreadableLinks) +
                  " cannot be read (not regular files, larger than " +
                  std::to_string(stateFileLimit >> 10) + " KiB, or leading out of the data root)");
    if (!unlinked.empty())
        check.add(prefix + "no link file for channel numbers " + describeNumbers(unlinked));
    if (!badLinks.empty())
        check.add(prefix + "the link files of channel numbers " + describeNumbers(badLinks) +
                  " hold no link number that " + urlDirectoryFile + " has an entry for");
    if (!badNames.empty())
        check.add(prefix + "the link files of channel numbers " + describeNumbers(badNames) +
                  " have a name line that is not one line of UTF-8 text");
}

// A favourite is whole when its thumbnail and its link file are copies of
// one catalogue channel's two files. Adding one copies both before the count
// moves, so every favourite up to the count is whole; a half-made one is
// left by a program that raised the count first and was stopped before or
// between the copies, or by two programs adding at once. From the files
// alone that shows as a favourite whose thumbnail is the blank picture a
// removal leaves (VESTRALUME/i/1.jpg, when no catalogue channel has it), or
// whose thumbnail is the picture of some catalogue channels while its link
// file is none of theirs. A thumbnail that is no catalogue channel's picture
// tells nothing (the catalogue may have changed since), so it passes.
// The index of the names an import writes beside its catalogue: when there
// is one, it must be whole and made for the catalogue beside it (the viewer
// reads any other as no index and searches the link files instead).
void checkNameIndex(Checker& check) {
    std::string bytes;
    const FileOutcome outcome = check.read(nameIndexFile, tableFileLimit, bytes);
    if (outcome == fileMissing) return;
    if (outcome != fileRead) {
        check.add(nameIndexFile + " " + describeFileOutcome(outcome, tableFileLimit));
        return;
    }
    const std::optional<int> count = readChannelCount(check.folder);
    if (!count || !parseNameIndex(bytes, *count))
        check.add(nameIndexFile + " is not an index of the names of the " +
                  (count ? number(*count) + " channels of the imported catalogue"
                         : std::string("catalogue (it holds no imported catalogue)")));
}

// The alternatives of merged channels, when the catalogue has any: every
// line names a channel of the catalogue, its first link number is the one of
// the channel's link file, and every number has an address in the URL
// directory.
void checkAlternatives(Checker& check, const std::set<int>& links) {
    std::string bytes;
    const FileOutcome outcome = check.read(alternativesFile, tableFileLimit, bytes);
    if (outcome == fileMissing) return;
    if (outcome != fileRead) {
        check.add(alternativesFile + " " + describeFileOutcome(outcome, tableFileLimit));
        return;
    }
    std::vector<AlternativeLine> lines;
    std::string problem;
    if (!parseAlternatives(bytes, lines, problem)) {
        check.add(alternativesFile + ": " + problem);
        return;
    }
    const std::optional<int> count = readChannelCount(check.folder);
    for (const AlternativeLine& line : lines) {
        const std::string where = alternativesFile + ": channel " + number(line.channel);
        if (!count || line.channel > *count) {
            check.add(where + " is not a channel of the imported catalogue");
            continue;
        }
        const std::optional<int> own = readInt(check.path(linkPath(1, line.channel)));
        if (own != line.links[0])
            check.add(where + " starts with link number " + number(line.links[0]) +
                      ", not the one of its link file");
        for (int link : line.links)
            if (links.count(link) == 0)
                check.add(where + ": link number " + number(link) + " has no address in " +
                          urlDirectoryFile);
    }
}

void checkFavouritesWhole(Checker& check) {
    const std::optional<int> count = readInt(check.path(stateFile(StateFile::favouritesCount)));
    if (!count || *count < 1) return;
    struct Favourite {
        long long number;
        std::string picture, link;
        std::vector<long long> catalogueCopies;  // channels whose thumbnail it is
    };
    std::vector<Favourite> favourites;
    for (long long slot : numberedFiles(check.path(dataRoot + "2"), ".Quillon")) {
        if (slot < 1 || slot > *count) continue;
        Favourite favourite{slot, {}, {}, {}};
        const std::string base = dataRoot + "2/" + number(slot);
        if (check.read(base + ".Quillon", imageFileLimit, favourite.picture) == fileRead &&
            check.read(base + ".txt", stateFileLimit, favourite.link) == fileRead)
            favourites.push_back(std::move(favourite));
    }
    if (favourites.empty()) return;
    std::string blank;
    check.read(placeholderPath(1), imageFileLimit, blank);

    // Only catalogue thumbnails of a size some favourite (or the blank
    // picture) has can be one of them.
    std::set<std::uintmax_t> sizes{blank.size()};
    for (const Favourite& favourite : favourites) sizes.insert(favourite.picture.size());
    bool blankInCatalogue = false;
    const std::string catalogue = check.path(dataRoot + "1");
    for (long long channel : numberedFiles(catalogue, ".Quillon")) {
        std::error_code code;
        const std::uintmax_t size = fs::file_size(catalogue + "/" + number(channel) + ".Quillon", code);
        if (code || !sizes.count(size)) continue;
        std::string picture;
        if (check.read(dataRoot + "1/" + number(channel) + ".Quillon", imageFileLimit, picture) != fileRead)
            continue;
        blankInCatalogue = blankInCatalogue || (!blank.empty() && picture == blank);
        for (Favourite& favourite : favourites)
            if (favourite.picture == picture) favourite.catalogueCopies.push_back(channel);
    }

    std::vector<long long> blanked, mixed;
    for (const Favourite& favourite : favourites) {
        if (!blank.empty() && favourite.picture == blank && !blankInCatalogue) {
            blanked.push_back(favourite.number);
            continue;
        }
        if (favourite.catalogueCopies.empty()) continue;
        bool linked = false;
        for (long long channel : favourite.catalogueCopies) {
            std::string link;
            linked = linked || (check.read(dataRoot + "1/" + number(channel) + ".txt", stateFileLimit,
                                           link) == fileRead &&
                                link == favourite.link);
        }
        if (!linked) mixed.push_back(favourite.number);
    }
    // "favourite 4 is", "favourites 2, 4 are"
    const auto listed = [](const std::vector<long long>& numbers) {
        return "list 2 (VESTRALUME/2/): " +
               std::string(numbers.size() == 1 ? "favourite " : "favourites ") +
               describeNumbers(numbers) + (numbers.size() == 1 ? " is" : " are");
    };
    if (!blanked.empty())
        check.add(listed(blanked) +
                  " half-made: counted in VESTRALUME/n/d.txt, but the thumbnail is the blank "
                  "picture a removed favourite leaves");
    if (!mixed.empty())
        check.add(listed(mixed) +
                  " half-made: thumbnail and link file come from different catalogue channels");
}

bool isPrintableAddress(const std::string& address) {
    return std::all_of(address.begin(), address.end(),
                       [](char c) { return c > ' ' && c < 127; });
}

}  // namespace

std::vector<long long> reachableChannels(const std::vector<int>& page, int lastFirst,
                                         size_t limit) {
    std::vector<long long> numbers;
    if (page.empty()) return numbers;
    const long long first = page[0];
    // Forward scrolls run while the first number is below lastFirst, back
    // scrolls while it is above 1; each moves every number by one step.
    const long long forward = first < lastFirst ? (lastFirst - first + pageStep - 1) / pageStep : 0;
    const long long back = first > 1 ? (first - 1 + pageStep - 1) / pageStep : 0;
    const long long pages = forward + back + 1;
    if (static_cast<unsigned long long>(pages) * page.size() > limit) return numbers;
    numbers.reserve(static_cast<size_t>(pages) * page.size());
    for (long long shift = -back; shift <= forward; ++shift)
        for (int channel : page) numbers.push_back(channel + shift * pageStep);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

std::string describeNumbers(const std::vector<long long>& numbers, size_t maxRanges) {
    std::vector<std::pair<long long, long long>> ranges;
    for (long long value : numbers) {
        if (!ranges.empty() && value == ranges.back().second + 1)
            ranges.back().second = value;
        else if (ranges.empty() || value != ranges.back().second)
            ranges.emplace_back(value, value);
    }
    std::string text;
    for (size_t i = 0; i < ranges.size() && i < maxRanges; ++i) {
        if (!text.empty()) text += ", ";
        text += number(ranges[i].first);
        if (ranges[i].second != ranges[i].first) text += " to " + number(ranges[i].second);
    }
    if (ranges.size() > maxRanges)
        text += " and " + number(static_cast<long long>(ranges.size() - maxRanges)) + " more";
    return text;
}

std::vector<std::string> checkLinkTable(const std::string& path, const std::string& name,
                                        std::set<int>* links) {
    std::vector<std::string> problems;
    std::string text;
    const FileOutcome outcome = readLimitedFile(path, tableFileLimit, text);
    if (outcome != fileRead) {
        problems.push_back(name + " " + describeFileOutcome(outcome, tableFileLimit) +
                           " (the URL directory)");
        return problems;
    }
    std::istringstream in(std::move(text));
    const std::string delivered = "1 to " + number(deliveredLinkCount);
    std::map<int, std::string> addresses;  // the delivered web pages
    std::map<std::string, std::vector<int>> mediaHolders;
    std::map<int, size_t> lineOf;
    std::string line;
    for (size_t lineNumber = 1; std::getline(in, line); ++lineNumber) {
        const std::string where = name + " line " + number(static_cast<long long>(lineNumber));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const DirectoryLineReading reading = readDirectoryLine(line);
        // The viewer also skips lines of blanks and indented comments; the
        // table holds none, so here they are lines of the wrong shape.
        if (reading.line == directoryComment ||
            reading.refusal == DirectoryRefusal::notEntryShape) {
            problems.push_back(where + " is not a link number, a TAB and an address");
            continue;
        }
        if (reading.refusal == DirectoryRefusal::unknownThirdField) {
            problems.push_back(where + " has a third field other than \"media\"");
            continue;
        }
        const long long link = reading.link;
        if (reading.refusal == DirectoryRefusal::linkOutOfRange) {
            problems.push_back(where + ": link number " + number(link) + " is outside 1 to " +
                               number(maxDirectoryLink));
            continue;
        }
        // An entry, or one whose address the program refuses: the checks
        // below say why in words.
        const std::string& address = reading.address;
        const LinkKind kind = reading.kind;
        const int key = static_cast<int>(link);
        if (lineOf.count(key)) {
            problems.push_back(where + ": link number " + number(link) +
                               " was given before, on line " +
                               number(static_cast<long long>(lineOf[key])));
            continue;
        }
        lineOf[key] = lineNumber;
        const std::string what = where + ": the address of link " + number(link);
        if (kind == mediaAddress) {
            // Imported from a playlist: after the delivered entries.
            if (link <= deliveredLinkCount)
                problems.push_back(where + ": link number " + number(link) +
                                   " is a media address, but " + delivered +
                                   " are the delivered web pages");
            else if (!isSafeMediaAddress(address))
                problems.push_back(what + " is not a media address the program opens (one of " +
                                   "http, https, rtmp, rtmps, rtsp, udp, rtp, mms with a host; " +
                                   "printable ASCII, at most " + number(maxAddressLength) +
                                   " characters)");
            else
                mediaHolders[address].push_back(key);
            continue;
        }
        // Web pages are delivered with the program; numbers below
        // firstImportedLink are kept for them, later versions deliver more.
        if (link >= firstImportedLink) {
            problems.push_back(where + ": link number " + number(link) + " is a web page, but " +
                               "numbers from " + number(firstImportedLink) +
                               " on are media addresses added by imports (marked \"media\")");
            continue;
        }
        addresses[key] = address;
        const size_t before = problems.size();
        if (address.compare(0, 8, "https://") != 0 || address.size() == 8 || address[8] == '/')
            problems.push_back(what + " does not start with https:// and a host");
        if (!isPrintableAddress(address))
            problems.push_back(what + " holds a space or a character that is not printable ASCII");
        if (address.size() > maxDeliveredAddressLength)
            problems.push_back(what + " has " + number(static_cast<long long>(address.size())) +
                               " characters, more than " +
                               number(static_cast<long long>(maxDeliveredAddressLength)));
        if (problems.size() == before && !isSafeWebAddress(address))
            problems.push_back(what + " is one the program refuses to open");
    }
    if (links)
        for (const auto& entry : lineOf) links->insert(entry.first);
    std::vector<long long> absent;
    for (int link = 1; link <= deliveredLinkCount; ++link)
        if (!addresses.count(link)) absent.push_back(link);
    if (!absent.empty())
        problems.push_back(name + " has no address for link numbers " + describeNumbers(absent));

    std::map<int, int> partner;
    for (const auto& [a, b] : sharedLinks) {
        partner[a] = b;
        partner[b] = a;
        if (addresses.count(a) && addresses.count(b) && addresses[a] != addresses[b])
            problems.push_back(name + ": link numbers " + number(a) + " and " + number(b) +
                               " should open the same address");
    }
    std::map<std::string, std::vector<int>> holders;
    for (const auto& [link, address] : addresses) holders[address].push_back(link);
    auto listOf = [](const std::vector<int>& numbers) {
        std::string list;
        for (int link : numbers) list += (list.empty() ? "" : ", ") + number(link);
        return list;
    };
    for (const auto& [address, numbers] : holders) {
        if (numbers.size() < 2) continue;
        const bool sharedPair = numbers.size() == 2 && partner.count(numbers[0]) &&
                                partner[numbers[0]] == numbers[1];
        if (sharedPair) continue;
        problems.push_back(name + ": link numbers " + listOf(numbers) + " share the address " + address);
    }
    // An imported address keeps the one number it was given.
    for (const auto& [address, numbers] : mediaHolders)
        if (numbers.size() > 1)
            problems.push_back(name + ": link numbers " + listOf(numbers) +
                               " share the media address " + address);
    return problems;
}

// Live pictures' files (VESTRALUME/live.txt, VESTRALUME/live/): the
// settings are free text whose unknown lines are ignored; every status file
// holds a known state and a time, and every kept card is a whole picture.
// Files of the companion's in its folder are only "<list>-<N>.txt" and
// ".jpg" and its temporary files.
void checkLivePictures(Checker& check) {
    std::error_code code;
    const std::string folder = check.path(liveFolder.substr(0, liveFolder.size() - 1));
    if (!fs::exists(fs::symlink_status(folder, code))) return;
    if (!fs::is_directory(fs::symlink_status(folder, code))) {
        check.add(liveFolder + " is not a folder (live pictures)");
        return;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator entry(folder, code), end; !code && entry != end; entry.increment(code))
        names.push_back(entry->path().filename().string());
    std::sort(names.begin(), names.end());
    size_t reported = 0;
    for (const std::string& name : names) {
        if (reported >= 50) break;
        int list = 0, channel = 0, used = 0;
        char kind[4] = {};
        const bool named = std::sscanf(name.c_str(), "%d-%d.%3s%n", &list, &channel, kind, &used) == 3 &&
                           static_cast<size_t>(used) == name.size() && (list == 1 || list == 2) && channel >= 1 &&
                           name == std::to_string(list) + "-" + std::to_string(channel) + "." + kind;
        const std::string path = liveFolder + name;
        if (name[0] == '.') continue;  // a killed write's temporary file, removed at the next start
        if (!named || (std::string(kind) != "txt" && std::string(kind) != "jpg")) {
            check.add(path + " is not a file of live pictures");
            ++reported;
        } else if (std::string(kind) == "txt") {
            std::string bytes;
            const FileOutcome outcome = check.read(path, stateFileLimit, bytes);
            if (outcome != fileRead) {
                check.add(path + " " + describeFileOutcome(outcome, stateFileLimit) + " (live picture status)");
                ++reported;
            } else if (!parseLiveStatus(bytes)) {
                check.add(path + " is not a live picture status (a state and a time)");
                ++reported;
            }
        } else {
            const size_t before = check.problems.size();
            checkImage(check, path, "kept card of a live picture");
            reported += check.problems.size() - before;
        }
    }
}

namespace {

std::vector<std::string> checkRoot(const std::string& folder) {
    Checker check;
    check.folder = folder.empty() ? "." : folder;
    std::error_code code;
    if (!fs::is_directory(check.path(rootFolderName), code)) {
        check.add(check.path(rootFolderName) + " is missing or not a folder");
        return check.problems;
    }
    std::set<int> links;
    const std::vector<std::string> linkProblems =
        checkLinkTable(check.path(urlDirectoryFile), urlDirectoryFile, &links);
    checkTemplates(check);
    checkStateFiles(check);
    checkStartupImages(check);
    checkModels(check);
    checkList(check, 1, links);
    checkNameIndex(check);
    checkAlternatives(check, links);
    checkList(check, 2, links);
    checkFavouritesWhole(check);
    checkLivePictures(check);
    check.problems.insert(check.problems.end(), linkProblems.begin(), linkProblems.end());
    return check.problems;
}

}  // namespace

std::vector<std::string> checkDataRoot(const std::string& folder) {
    // The viewer's readers report what they meet; the checker says it in
    // its own words.
    const ReportSink previous = setReportSink(discardReport);
    std::vector<std::string> problems = checkRoot(folder);
    setReportSink(previous);
    return problems;
}

size_t pendingCardCount(const std::string& folder) {
    const PendingCards pending = readPendingCards(folder + "/" + dataRoot + "1");
    return pending.listed ? pending.pending : 0;
}
