#include "tools/data_check.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include <jpeglib.h>

#include "catalogue/data_root.h"
#include "catalogue/playlist.h"
#include "catalogue/url_directory_file.h"
#include "state/state_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int templateCount = 20;
constexpr int placeholderCount = 32;
constexpr size_t maxDeliveredAddressLength = 100;
constexpr size_t maxModelLine = 254;
constexpr size_t maxMaterialName = 19;
constexpr int maxFaceCorners = 10;
constexpr size_t maxCornerIndexLength = 11;

// Link numbers whose entries open the same page; every other address of the
// directory is its own.
const std::pair<int, int> sharedLinks[] = {{25, 340},   {81, 611},  {130, 965}, {177, 490},
                                           {230, 1099}, {263, 650}, {286, 790}, {342, 590},
                                           {591, 592},  {1030, 1082}};

enum ValueKind { integerValue, floatValue, pathValue, pageValue };

struct StateFileRule {
    const char* name;
    const char* meaning;
    ValueKind kind;
    int lowest;
    int highest;
};

// The state files under VESTRALUME/n/ besides the tile path files, with the
// range of values each may hold.
const StateFileRule stateRules[] = {
    {"b.txt", "selected tile", integerValue, 1, 12},
    {"u.txt", "wall scale", floatValue, 0, 0},
    {"nn.txt", "scroll direction", integerValue, 1, 2},
    {"z1.txt", "page of list 1", pageValue, 0, 0},
    {"z2.txt", "page of list 2", pageValue, 0, 0},
    {"1c.txt", "rotation counter", integerValue, 1, 16},
    {"2c.txt", "rotation counter", integerValue, 1, 16},
    {"h.txt", "launch counter", integerValue, 1, 20},
    {"d.txt", "favourites count", integerValue, 0, INT_MAX},
    {"dd.txt", "removed favourite path", pathValue, 0, 0},
    {"npi.txt", "favourite source path", pathValue, 0, 0},
    {"npt.txt", "link path", pathValue, 0, 0},
    {"nppi.txt", "favourite target path", pathValue, 0, 0},
    {"nppt.txt", "favourite target path", pathValue, 0, 0},
    {"hl.txt", "link copy", integerValue, INT_MIN, INT_MAX},
};

struct ModelRule {
    const char* name;
    const char* meaning;
    bool drawn;  // drawn with a texture override, so every face needs texture coordinates
};

// In the order the scene loads them: material libraries read by earlier
// models are known to later ones.
const ModelRule modelRules[] = {
    {"w.txt", "model", false},          {"r.txt", "model", false},
    {"m.txt", "model", false},          {"rp.txt", "tile model", true},
    {"mp.txt", "selection model", true},
};

struct JpegErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void leaveOnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrorTrap*>(info->err)->jump, 1);
}

void keepJpegQuiet(j_common_ptr) {}

// Whether libjpeg reads the file's header, and with `decode` all of its
// scan lines, without an error. Only trivially destructible values live
// here, as an error leaves by longjmp.
bool readsAsJpeg(const std::string& path, bool decode) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    jpeg_decompress_struct info;
    JpegErrorTrap trap;
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = leaveOnJpegError;
    trap.manager.output_message = keepJpegQuiet;
    volatile bool readable = false;
    if (setjmp(trap.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
            if (decode) {
                jpeg_start_decompress(&info);
                JSAMPARRAY row = (*info.mem->alloc_sarray)(
                    reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                    info.output_width * info.output_components, 1);
                while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, row, 1);
                jpeg_finish_decompress(&info);
            }
            readable = true;
        }
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return readable;
}

bool isRegularFile(const std::string& path) {
    std::error_code code;
    return fs::is_regular_file(path, code);
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

// One corner "v", "v/t", "v/t/n" or "v//n", split the way the model loader
// splits it: each index runs to the next '/' or the end of the corner.
std::vector<std::string> cornerParts(const std::string& corner) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t slash = corner.find('/', start);
        parts.push_back(corner.substr(start, slash == std::string::npos ? std::string::npos
                                                                        : slash - start));
        if (slash == std::string::npos || parts.size() == 3) break;
        start = slash + 1;
    }
    return parts;
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
};

void checkTemplates(Checker& check) {
    for (int k = 1; k <= templateCount; ++k) {
        const std::string name = stateFile(number(k) + ".txt");
        if (!isRegularFile(check.path(name))) {
            check.add(name + " is missing (template file " + number(k) + ")");
            continue;
        }
        const std::optional<int> value = readInt(check.path(name));
        if (!value || *value != k)
            check.add(name + " should hold its own number " + number(k) + " (template file)");
    }
}

void checkStateFiles(Checker& check) {
    for (const StateFileRule& rule : stateRules) {
        const std::string name = stateFile(rule.name);
        const std::string file = check.path(name);
        const std::string what = " (" + std::string(rule.meaning) + ")";
        if (!isRegularFile(file)) {
            check.add(name + " is missing" + what);
            continue;
        }
        switch (rule.kind) {
            case integerValue: {
                const std::optional<int> value = readInt(file);
                if (!value)
                    check.add(name + " does not hold an integer" + what);
                else if (*value < rule.lowest || *value > rule.highest)
                    check.add(name + " holds " + number(*value) + "; the " + rule.meaning +
                              " must be " +
                              (rule.highest == INT_MAX ? number(rule.lowest) + " or more"
                                                       : number(rule.lowest) + " to " +
                                                             number(rule.highest)));
                break;
            }
            case floatValue:
                if (!readFloat(file)) check.add(name + " does not hold a number" + what);
                break;
            case pathValue:
                if (readPath(file, wideScan).empty()) check.add(name + " does not hold a path" + what);
                break;
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
            if (!isRegularFile(file)) {
                check.add(name + " is missing" + what);
                continue;
            }
            const std::string image = readPath(file, narrowScan);
            if (image.empty()) {
                check.add(name + " does not hold a path" + what);
            } else if (list == 1) {
                if (!isRegularFile(check.path(image)))
                    check.add(name + " names " + image + ", which is missing");
                else if (!readsAsJpeg(check.path(image), false))
                    check.add(name + " names " + image + ", which is not a readable JPEG image");
            }
        }
}

void checkImage(Checker& check, const std::string& name, const std::string& meaning) {
    if (!isRegularFile(check.path(name)))
        check.add(name + " is missing (" + meaning + ")");
    else if (!readsAsJpeg(check.path(name), true))
        check.add(name + " is not a readable JPEG image (" + meaning + ")");
}

void checkStartupImages(Checker& check) {
    checkImage(check, dataRoot + "t/b.jpg", "selection texture");
    for (int k = 1; k <= placeholderCount; ++k)
        checkImage(check, placeholderPath(k), "placeholder image");
}

std::vector<std::string> readLines(const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void readMaterialLibrary(Checker& check, const std::string& name, const std::string& model,
                         std::set<std::string>& materials) {
    if (!isRegularFile(check.path(name))) {
        check.add(model + " names the material library " + name + ", which is missing");
        return;
    }
    const std::vector<std::string> lines = readLines(check.path(name));
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

// Checks one face line: the corner count and every index against the
// file's counts; for a drawn model, that each corner has a texture
// coordinate, and in a file with normals, that each corner has a normal.
void checkFace(Checker& check, const std::string& where, const std::string& corners,
               const ModelRule& rule, long long vertices, long long texcoords, long long normals) {
    std::vector<std::string> list;
    for (size_t start = 0; start < corners.size();) {
        size_t end = corners.find(' ', start);
        if (end == std::string::npos) end = corners.size();
        list.push_back(corners.substr(start, end - start));
        start = end + 1;
    }
    while (!list.empty() && list.back().empty()) list.pop_back();
    if (list.size() < 3 || list.size() > static_cast<size_t>(maxFaceCorners)) {
        check.add(where + ": a face needs 3 to " + number(maxFaceCorners) + " corners");
        return;
    }
    const long long limits[3] = {vertices, texcoords, normals};
    const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
    for (size_t c = 0; c < list.size(); ++c) {
        const std::vector<std::string> parts = cornerParts(list[c]);
        for (size_t p = 0; p < 3; ++p) {
            const bool given = p < parts.size() && !parts[p].empty();
            if (!given) {
                const bool needed = p == 0 || (p == 1 && rule.drawn) ||
                                    (p == 2 && rule.drawn && normals > 0);
                if (needed)
                    check.add(where + ": corner " + number(c + 1) + " has no " + kinds[p] +
                              (p == 1 ? ", but the model is drawn with a texture"
                                      : p == 2 ? ", but the file gives normals" : ""));
                continue;
            }
            long long index = 0;
            if (!parseIndex(parts[p], index) || index < 1 || index > limits[p]) {
                check.add(where + ": corner " + number(c + 1) + " names " + kinds[p] + " \"" +
                          parts[p] + "\", but the file has " + number(limits[p]));
            }
        }
    }
}

void checkModel(Checker& check, const ModelRule& rule, std::set<std::string>& materials) {
    const std::string name = stateFile(rule.name);
    if (!isRegularFile(check.path(name))) {
        check.add(name + " is missing (" + rule.meaning + ")");
        return;
    }
    const std::vector<std::string> lines = readLines(check.path(name));
    long long vertices = 0, texcoords = 0, normals = 0, faces = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, 2, "v ") == 0) ++vertices;
        if (line.compare(0, 3, "vt ") == 0) ++texcoords;
        if (line.compare(0, 3, "vn ") == 0) ++normals;
        if (line.compare(0, 2, "f ") == 0) ++faces;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string where = name + " line " + number(i + 1);
        if (line.size() > maxModelLine) {
            check.add(where + " is longer than " + number(maxModelLine) + " characters");
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const std::string rest = line.size() > 7 ? line.substr(7) : "";
        if (line.compare(0, 6, "mtllib") == 0) {
            readMaterialLibrary(check, rest, name, materials);
        } else if (line.compare(0, 6, "usemtl") == 0) {
            if (!materials.count(rest))
                check.add(where + ": no material library read so far defines the material \"" +
                          rest + "\"");
        } else if (line.compare(0, 6, "usemat") == 0) {
            if (rest != "(null)") {
                if (!isRegularFile(check.path(rest)))
                    check.add(where + " names the image " + rest + ", which is missing");
                else if (!readsAsJpeg(check.path(rest), true))
                    check.add(where + " names the image " + rest +
                              ", which is not a readable JPEG image");
            }
        } else if (line.compare(0, 2, "v ") == 0 || line.compare(0, 3, "vn ") == 0) {
            if (countNumbers(line.substr(line[1] == ' ' ? 2 : 3)) < 3)
                check.add(where + " needs three numbers");
        } else if (line.compare(0, 3, "vt ") == 0) {
            if (countNumbers(line.substr(3)) < 2) check.add(where + " needs two or three numbers");
        } else if (line.compare(0, 2, "f ") == 0) {
            checkFace(check, where, line.substr(2), rule, vertices, texcoords, normals);
        }
    }
    if (rule.drawn && (vertices == 0 || faces == 0))
        check.add(name + " has no faces to draw (" + rule.meaning + ")");
}

void checkModels(Checker& check) {
    std::set<std::string> materials;
    for (const ModelRule& rule : modelRules) checkModel(check, rule, materials);
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
bool hasCleanNameLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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
    const std::set<long long> thumbnails = numberedFiles(folder, ".Quillon");
    const std::set<long long> linkFiles = numberedFiles(folder, ".txt");
    const long long favourites = list == 2 ? readInt(check.path(stateFile("d.txt"))).value_or(0) : 0;
    std::vector<long long> missing, damaged, unlinked, badLinks, badNames;
    for (long long channel : reachable) {
        if (channel < INT_MIN || channel > INT_MAX ||
            !channelExists(list, static_cast<int>(channel), count))
            continue;
        const std::string base = folder + "/" + number(channel);
        if (!thumbnails.count(channel))
            missing.push_back(channel);
        else if (!readsAsJpeg(base + ".Quillon", false))
            damaged.push_back(channel);
        if (!linkFiles.count(channel)) {
            // The favourites above the count are empty slots; a link file
            // there is copied in when a favourite is added.
            if (list == 1 || channel <= favourites) unlinked.push_back(channel);
            continue;
        }
        const std::optional<int> link = readInt(base + ".txt");
        if (!link || !links.count(*link)) badLinks.push_back(channel);
        if (!hasCleanNameLine(base + ".txt")) badNames.push_back(channel);
    }
    const std::string prefix = listName + " (" + dataRoot + number(list) + "/): ";
    if (!missing.empty())
        check.add(prefix + "no thumbnail for channel numbers " + describeNumbers(missing) +
                  ", which the page in " + pageName + " reaches by scrolling");
    if (!damaged.empty())
        check.add(prefix + "the thumbnails of channel numbers " + describeNumbers(damaged) +
                  " are not readable JPEG images");
    if (!unlinked.empty())
        check.add(prefix + "no link file for channel numbers " + describeNumbers(unlinked));
    if (!badLinks.empty())
        check.add(prefix + "the link files of channel numbers " + describeNumbers(badLinks) +
                  " hold no link number that " + urlDirectoryFile + " has an entry for");
    if (!badNames.empty())
        check.add(prefix + "the link files of channel numbers " + describeNumbers(badNames) +
                  " have a name line that is not one line of UTF-8 text");
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems.push_back(name + " is missing (the URL directory)");
        return problems;
    }
    const std::string delivered = "1 to " + number(deliveredLinkCount);
    std::map<int, std::string> addresses;  // the delivered web pages
    std::map<std::string, std::vector<int>> mediaHolders;
    std::map<int, size_t> lineOf;
    std::string line;
    for (size_t lineNumber = 1; std::getline(in, line); ++lineNumber) {
        const std::string where = name + " line " + number(static_cast<long long>(lineNumber));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        const std::string digits = line.substr(0, tab);
        long long link = 0;
        if (tab == std::string::npos || digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            problems.push_back(where + " is not a link number, a TAB and an address");
            continue;
        }
        link = std::stoll(digits);
        std::string address = line.substr(tab + 1);
        LinkKind kind = webPage;
        const size_t kindTab = address.find('\t');
        if (kindTab != std::string::npos) {
            if (address.compare(kindTab + 1, std::string::npos, "media") != 0) {
                problems.push_back(where + " has a third field other than \"media\"");
                continue;
            }
            address.erase(kindTab);
            kind = mediaAddress;
        }
        if (link < 1 || link > maxDirectoryLink) {
            problems.push_back(where + ": link number " + number(link) + " is outside 1 to " +
                               number(maxDirectoryLink));
            continue;
        }
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
        if (link > deliveredLinkCount) {
            problems.push_back(where + ": link number " + number(link) + " is outside " + delivered +
                               ", the delivered web pages (entries after them are media "
                               "addresses, marked \"media\")");
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

std::vector<std::string> checkDataRoot(const std::string& folder) {
    Checker check;
    check.folder = folder.empty() ? "." : folder;
    std::error_code code;
    if (!fs::is_directory(check.path("VESTRALUME"), code)) {
        check.add(check.path("VESTRALUME") + " is missing or not a folder");
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
    checkList(check, 2, links);
    check.problems.insert(check.problems.end(), linkProblems.begin(), linkProblems.end());
    return check.problems;
}
