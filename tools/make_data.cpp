#include "tools/make_data.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "catalogue/data_root.h"
#include "catalogue/url_directory_file.h"
#include "launch/launch.h"
#include "tools/bitmap_font.h"
#include "tools/jpeg_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int imageQuality = 85;
constexpr int placeholderCount = 32;

// Outline of the selection model (VESTRALUME/n/mp.txt, made by
// tools/make_models.py) in wall units: the frame ring lies between the inner
// and the outer rectangle, and the selection image is mapped planar over the
// outer one, so its glow has to follow the same proportions.
constexpr double frameOuterHalfWidth = 3.35;
constexpr double frameOuterHalfHeight = 1.95;
constexpr double frameInnerHalfWidth = 3.1;
constexpr double frameInnerHalfHeight = 1.7;

const Rgb white{255, 255, 255};
const Rgb ink{16, 16, 20};

Rgb mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    auto channel = [t](unsigned char x, unsigned char y) {
        return static_cast<unsigned char>(std::lround(x + (y - x) * t));
    };
    return {channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue)};
}

Rgb shade(Rgb colour, double factor) {
    auto channel = [factor](unsigned char x) {
        return static_cast<unsigned char>(std::clamp(std::lround(x * factor), 0L, 255L));
    };
    return {channel(colour.red), channel(colour.green), channel(colour.blue)};
}

Rgb fromHsv(double hue, double saturation, double value) {
    const double h = (hue - std::floor(hue)) * 6;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1 - f));
    double r = value, g = t, b = p;
    switch (sector) {
        case 1: r = q, g = value, b = p; break;
        case 2: r = p, g = value, b = t; break;
        case 3: r = p, g = q, b = value; break;
        case 4: r = t, g = p, b = value; break;
        case 5: r = value, g = p, b = q; break;
        default: break;
    }
    auto byte = [](double x) { return static_cast<unsigned char>(std::lround(x * 255)); };
    return {byte(r), byte(g), byte(b)};
}

// A colour of the channel's own: the golden-ratio walk over the hue circle
// keeps neighbouring channel numbers far apart; saturation and brightness
// vary a little as well. Dark enough for white digits to stand out.
Rgb channelColour(int channel) {
    const double hue = channel * 0.6180339887498949;
    const double saturation = 0.55 + 0.2 * (channel / 7 % 2);
    const double value = 0.58 + 0.08 * (channel % 3);
    return fromHsv(hue, saturation, value);
}

void fillGradient(Canvas& canvas, Rgb colour) {
    for (int y = 0; y < canvas.height; ++y)
        fillRect(canvas, 0, y, canvas.width, 1,
                 shade(colour, 1.18 - 0.4 * y / (canvas.height - 1)));
}

// The common layout of the tile images: up to two label lines at the top,
// the big number in the middle, a small caption at the bottom.
void paintTileText(Canvas& canvas, const std::string& label, const std::string& number,
                   const std::string& caption, Rgb textColour, Rgb numberColour) {
    const int centre = canvas.width / 2;
    const std::vector<std::string> lines = wrapText(label, 19, 2);
    const int top = lines.size() == 1 ? 16 : 8;
    for (size_t i = 0; i < lines.size(); ++i)
        drawTextCentred(canvas, centre, top + static_cast<int>(i) * 16, lines[i], 2, textColour,
                        ink, 1);
    drawTextCentred(canvas, centre, 44, number, 8, numberColour, ink, 3);
    if (!caption.empty()) drawTextCentred(canvas, centre, 106, caption, 2, textColour, ink, 1);
}

void paintChannelThumbnail(Canvas& canvas, int channel, const std::string& label, int link) {
    fillGradient(canvas, channelColour(channel));
    drawBorder(canvas, 3, ink);
    paintTileText(canvas, label, std::to_string(channel), "LINK " + std::to_string(link),
                  Rgb{235, 235, 235}, white);
}

// Placeholders 1 to 16 (list 1 at start-up) are blue with stripes,
// 17 to 32 (list 2 at start-up) wine red with a checker pattern.
void paintPlaceholder(Canvas& canvas, int k) {
    const bool favourites = k > 16;
    const Rgb base = favourites ? Rgb{70, 26, 50} : Rgb{26, 42, 72};
    const Rgb pattern = favourites ? Rgb{92, 38, 68} : Rgb{36, 58, 94};
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x) {
            const bool on = favourites ? ((x / 16 + y / 16) % 2 == 0) : ((x + y) / 12 % 2 == 0);
            putPixel(canvas, x, y, on ? pattern : base);
        }
    drawBorder(canvas, 3, favourites ? Rgb{160, 80, 124} : Rgb{92, 124, 176});
    paintTileText(canvas, favourites ? "FAVOURITES" : "QUILLON", std::to_string(k), "",
                  Rgb{200, 205, 220}, Rgb{225, 228, 238});
}

void paintEmptyFavourite(Canvas& canvas, int channel) {
    fillRect(canvas, 0, 0, canvas.width, canvas.height, Rgb{54, 54, 60});
    drawBorder(canvas, 3, Rgb{100, 100, 110});
    paintTileText(canvas, "FAVOURITE SLOT", std::to_string(channel), "EMPTY", Rgb{170, 170, 180},
                  Rgb{140, 140, 152});
}

// A glowing frame: orange at the ring's edges, nearly white-yellow along its
// middle, matching the ring of the selection model.
void paintSelection(Canvas& canvas) {
    const Rgb orange{255, 112, 0};
    const Rgb glow{255, 244, 150};
    const Rgb inside{72, 34, 0};
    const double ring = frameOuterHalfWidth - frameInnerHalfWidth;
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x) {
            const double u = (x + 0.5) / canvas.width;
            const double v = 1 - (y + 0.5) / canvas.height;  // image rows run top down
            const double px = std::fabs(u - 0.5) * 2 * frameOuterHalfWidth;
            const double py = std::fabs(v - 0.5) * 2 * frameOuterHalfHeight;
            const double t =
                std::max(px - frameInnerHalfWidth, py - frameInnerHalfHeight) / ring;
            Rgb colour;
            if (t >= 0)
                colour = mix(orange, glow, 1 - std::fabs(t - 0.5) * 2);
            else
                colour = mix(inside, orange, 1 + t * 3);
            putPixel(canvas, x, y, colour);
        }
}

void paintCheckers(Canvas& canvas, Rgb a, Rgb b, int cell) {
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x)
            putPixel(canvas, x, y, (x / cell + y / cell) % 2 ? a : b);
}

void paintStripes(Canvas& canvas, Rgb a, Rgb b, int width) {
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x)
            putPixel(canvas, x, y, (x + 2 * y) / width % 2 ? a : b);
}

// Writes the bytes unless the file already holds exactly them, so that
// refreshing a root rewrites only what changed.
bool writeBytes(const fs::path& path, const char* data, size_t size, std::string& error) {
    std::error_code code;
    if (fs::file_size(path, code) == size && !code) {
        std::ifstream in(path, std::ios::binary);
        std::string old(size, '\0');
        if (in.read(&old[0], static_cast<std::streamsize>(size)) &&
            std::equal(old.begin(), old.end(), data))
            return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    out.close();
    if (out) return true;
    error = "cannot write " + path.string();
    return false;
}

bool writeImage(const fs::path& path, const Canvas& canvas, std::string& error) {
    const std::vector<unsigned char> bytes =
        encodeJpeg(canvas.width, canvas.height, 3, canvas.pixels, imageQuality);
    if (bytes.empty()) {
        error = "cannot encode the image " + path.string();
        return false;
    }
    return writeBytes(path, reinterpret_cast<const char*>(bytes.data()), bytes.size(), error);
}

bool writeTextFile(const fs::path& path, const std::string& text, std::string& error) {
    return writeBytes(path, text.data(), text.size(), error);
}

bool makeFolders(const fs::path& root, std::string& error) {
    for (const char* sub : {"n", "i", "t", "1", "2"}) {
        std::error_code code;
        fs::create_directories(root / sub, code);
        if (code) {
            error = "cannot create the folder " + (root / sub).string() + ": " + code.message();
            return false;
        }
    }
    return true;
}

// Copies every file of the text data root into `root`; with `keepState`,
// state files that already exist there are left as they are.
bool copyTextData(const fs::path& textRoot, const fs::path& root, bool keepState,
                  std::string& error) {
    std::error_code code;
    fs::recursive_directory_iterator entry(textRoot, code), end;
    for (; !code && entry != end; entry.increment(code)) {
        if (!entry->is_regular_file(code)) continue;
        const std::string relative = entry->path().lexically_relative(textRoot).generic_string();
        const fs::path target = root / relative;
        if (keepState && isStateFile(relative) && fs::exists(target, code)) continue;
        fs::create_directories(target.parent_path(), code);
        if (code) break;
        fs::copy_file(entry->path(), target, fs::copy_options::overwrite_existing, code);
        if (code) {
            error = "cannot copy " + entry->path().string() + " to " + target.string() + ": " +
                    code.message();
            return false;
        }
    }
    if (code) {
        error = "cannot read the text data in " + textRoot.string() + ": " + code.message();
        return false;
    }
    return true;
}

bool writeSceneImages(const fs::path& root, Canvas& canvas, std::string& error) {
    resizeCanvas(canvas, thumbnailWidth, thumbnailHeight);
    for (int k = 1; k <= placeholderCount; ++k) {
        paintPlaceholder(canvas, k);
        if (!writeImage(root / "i" / (std::to_string(k) + ".jpg"), canvas, error)) return false;
    }
    paintSelection(canvas);
    if (!writeImage(root / "t" / "b.jpg", canvas, error)) return false;
    // Images named by the models that are loaded but not drawn.
    resizeCanvas(canvas, 128, 128);
    paintCheckers(canvas, Rgb{70, 90, 120}, Rgb{110, 130, 160}, 16);
    if (!writeImage(root / "t" / "w.jpg", canvas, error)) return false;
    resizeCanvas(canvas, 64, 64);
    paintStripes(canvas, Rgb{200, 160, 40}, Rgb{60, 60, 70}, 8);
    return writeImage(root / "t" / "m.jpg", canvas, error);
}

bool writeChannelLists(const fs::path& root, const std::map<int, std::string>& links,
                       bool keepState, bool keepCatalogue, Canvas& canvas, std::string& error) {
    resizeCanvas(canvas, thumbnailWidth, thumbnailHeight);
    std::error_code code;
    for (int channel = 1; channel <= sampleChannelCount; ++channel) {
        const int link = sampleLinkNumber(channel);
        const std::string name = std::to_string(channel);
        if (!keepCatalogue) {
            const auto address = links.find(link);
            const std::string label = address == links.end() ? "CHANNEL " + name
                                                             : channelLabel(address->second);
            paintChannelThumbnail(canvas, channel, label, link);
            if (!writeImage(root / "1" / (name + ".Quillon"), canvas, error)) return false;
            if (!writeTextFile(root / "1" / (name + ".txt"), std::to_string(link), error))
                return false;
        }

        // The favourites list: empty slots, kept when refreshing a root in use.
        const fs::path thumbnail = root / "2" / (name + ".Quillon");
        if (!(keepState && fs::exists(thumbnail, code))) {
            paintEmptyFavourite(canvas, channel);
            if (!writeImage(thumbnail, canvas, error)) return false;
        }
        const fs::path linkFile = root / "2" / (name + ".txt");
        if (!(keepState && fs::exists(linkFile, code)) &&
            !writeTextFile(linkFile, std::to_string(link), error))
            return false;
    }
    return true;
}

// The lines of a URL directory after the delivered entries: the media
// addresses that importing playlists added, which favourites may hold.
std::string importedDirectoryLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line, lines;
    while (std::getline(in, line)) {
        DirectoryEntry entry;
        if (parseDirectoryLine(line, entry) == directoryEntry && entry.link > deliveredLinkCount)
            lines += line + "\n";
    }
    return lines;
}

bool writeRoot(const fs::path& root, const fs::path& textRoot, bool keepState,
               std::string& error) {
    if (!makeFolders(root, error)) return false;
    // A root in use may hold a catalogue imported from a playlist: its
    // channels and the link numbers they and the favourites use stay.
    const fs::path directory = root / fs::path(urlDirectoryFile).filename();
    const std::string importedLinks = keepState ? importedDirectoryLines(directory) : "";
    const bool importedCatalogue = keepState && readChannelCount(root.parent_path().string());
    if (!copyTextData(textRoot, root, keepState, error)) return false;
    if (!importedLinks.empty()) {
        std::ofstream out(directory, std::ios::binary | std::ios::app);
        out << importedLinks;
        if (!out.flush()) {
            error = "cannot keep the imported entries of " + directory.string();
            return false;
        }
    }
    const std::map<int, std::string> links = readLinkTable((textRoot / "links.tsv").string());
    Canvas canvas;
    if (!writeSceneImages(root, canvas, error)) return false;
    return writeChannelLists(root, links, keepState, importedCatalogue, canvas, error);
}

bool isTemplateName(const std::string& name) {
    if (name.size() < 5 || name.size() > 6 || name.compare(name.size() - 4, 4, ".txt") != 0)
        return false;
    const std::string digits = name.substr(0, name.size() - 4);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits[0] == '0')
        return false;
    const int k = std::stoi(digits);
    return k >= 1 && k <= 20;
}

std::string splitWords(const std::string& text) {
    std::string words;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '-' || c == '_' || c == '+' || c == '.') {
            if (!words.empty() && words.back() != ' ') words.push_back(' ');
            continue;
        }
        if (i > 0 && std::isupper(c) && std::islower(static_cast<unsigned char>(text[i - 1])) &&
            words.back() != ' ')
            words.push_back(' ');
        words.push_back(static_cast<char>(std::toupper(c)));
    }
    while (!words.empty() && words.back() == ' ') words.pop_back();
    return words;
}

}  // namespace

bool isStateFile(const std::string& relativePath) {
    if (relativePath.compare(0, 2, "n/") != 0) return false;
    const std::string name = relativePath.substr(2);
    if (name.find('/') != std::string::npos) return false;
    static const char* const models[] = {"w.txt", "r.txt", "m.txt", "rp.txt", "mp.txt"};
    if (std::find(std::begin(models), std::end(models), name) != std::end(models)) return false;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".mtl") == 0) return false;
    return !isTemplateName(name);
}

std::map<int, std::string> readLinkTable(const std::string& path) {
    std::map<int, std::string> table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab > 9) continue;
        const std::string number = line.substr(0, tab);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        table.emplace(std::stoi(number), line.substr(tab + 1));
    }
    return table;
}

std::string channelLabel(const std::string& address) {
    std::string rest = address;
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
    const size_t slash = rest.find('/');
    const std::string host = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? "" : rest.substr(slash + 1);
    path = path.substr(0, path.find('?'));
    std::vector<std::string> segments;
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    const std::string first = segments.empty() ? "" : segments[0];
    if (first == "playlist") return "PLAYLIST";
    if (first == "watch") return "VIDEO";
    if ((first == "user" || first == "c") && segments.size() > 1) return splitWords(segments[1]);
    if (first == "channel" && segments.size() > 1) {
        const std::string& id = segments[1];
        // An identifier names no words; its first characters tell channels apart.
        std::string tag = id.substr(id.compare(0, 2, "UC") == 0 ? 2 : 0, 6);
        for (char& c : tag) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return "CHANNEL " + tag;
    }
    if (first == "p" && segments.size() > 1) {
        std::string name = segments[1];
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) name.resize(dot);
        return splitWords(name);
    }
    if (segments.size() == 2 && segments[1] == "videos") return splitWords(first);
    // A broadcaster's own site: its name is the host's label before the
    // top-level domain.
    std::vector<std::string> labels;
    for (size_t start = 0; start <= host.size();) {
        size_t end = host.find('.', start);
        if (end == std::string::npos) end = host.size();
        labels.push_back(host.substr(start, end - start));
        start = end + 1;
    }
    return splitWords(labels.size() >= 2 ? labels[labels.size() - 2] : host);
}

int sampleLinkNumber(int channel) { return (channel - 1) % maxLinkNumber + 1; }

bool makeDataRoot(const std::string& target, const std::string& textRoot, MakeMode mode,
                  std::string& error) {
    std::error_code code;
    if (!fs::is_directory(fs::path(textRoot) / "n", code)) {
        error = "no text data in " + textRoot + " (expected the folder n/ and links.tsv there)";
        return false;
    }
    const fs::path folder(target);
    const fs::path root = folder / "VESTRALUME";
    const bool exists = fs::exists(fs::symlink_status(root, code));
    if (exists && mode == makeFresh) {
        error = root.string() +
                " already exists; use --force to replace it (its state and favourites are "
                "lost) or --update to refresh the delivered files and keep the state";
        return false;
    }
    if (exists && mode == makeUpdate) {
        if (!fs::is_directory(root, code)) {
            error = root.string() + " exists but is not a folder";
            return false;
        }
        return writeRoot(root, textRoot, true, error);
    }

    fs::create_directories(folder, code);
    if (code) {
        error = "cannot create the folder " + folder.string() + ": " + code.message();
        return false;
    }
    // Build the new root beside the old one and move it into place only when
    // complete, so a failure never leaves a half-written root behind.
    const fs::path staging = folder / ".VESTRALUME.partial";
    const fs::path retired = folder / ".VESTRALUME.old";
    fs::remove_all(staging, code);
    fs::remove_all(retired, code);
    if (!writeRoot(staging, textRoot, false, error)) {
        fs::remove_all(staging, code);
        return false;
    }
    if (exists) {
        fs::rename(root, retired, code);
        if (code) {
            error = "cannot move the old " + root.string() + " aside: " + code.message();
            fs::remove_all(staging, code);
            return false;
        }
    }
    fs::rename(staging, root, code);
    if (code) {
        error = "cannot move the new data root into " + root.string() + ": " + code.message();
        std::error_code ignored;
        if (exists) fs::rename(retired, root, ignored);
        fs::remove_all(staging, ignored);
        return false;
    }
    fs::remove_all(retired, code);
    return true;
}
