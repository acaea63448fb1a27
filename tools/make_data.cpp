#include "tools/make_data.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "cards/cards.h"
#include "dataroot/data_root.h"
#include "dataroot/root_files.h"
#include "dataroot/url_directory_file.h"
#include "launch/launch.h"
#include "cards/jpeg_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int imageQuality = 85;

// Outline of the selection model (VESTRALUME/n/mp.txt, made by
// tools/make_models.py) in wall units: the frame ring lies between the inner
// and the outer rectangle, and the selection image is mapped planar over the
// outer one, so its glow has to follow the same proportions.
constexpr double frameOuterHalfWidth = 3.35;
constexpr double frameOuterHalfHeight = 1.95;
constexpr double frameInnerHalfWidth = 3.1;
constexpr double frameInnerHalfHeight = 1.7;

// The backgrounds of the sample root's own cards (0xRRGGBB): placeholders of
// list 1 blue, of list 2 wine red, empty favourite slots grey.
constexpr int catalogueBackground = 0x1a2a48;
constexpr int favouritesBackground = 0x461a32;
constexpr int emptySlotBackground = 0x36363c;

struct Rgb {
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
};

// An RGB picture for the images that show no text, rows top first.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

void resizeCanvas(Canvas& canvas, int width, int height) {
    canvas.width = width;
    canvas.height = height;
    canvas.pixels.assign(static_cast<size_t>(width) * height * 3, 0);
}

void putPixel(Canvas& canvas, int x, int y, Rgb colour) {
    unsigned char* pixel = &canvas.pixels[(static_cast<size_t>(y) * canvas.width + x) * 3];
    pixel[0] = colour.red;
    pixel[1] = colour.green;
    pixel[2] = colour.blue;
}

Rgb mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    auto channel = [t](unsigned char x, unsigned char y) {
        return static_cast<unsigned char>(std::lround(x + (y - x) * t));
    };
    return {channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue)};
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

// The placeholder images, cards of their own: "QUILLON" over list 1's
// placeholders 1 to 16, "FAVOURITES" over list 2's 17 to 32.
void addPlaceholderCards(const fs::path& root, std::vector<CardRequest>& cards) {
    for (int k = 1; k <= placeholderCount; ++k) {
        const bool favourites = k > 16;
        CardRequest card;
        card.name = favourites ? "FAVOURITES" : "QUILLON";
        card.number = k;
        card.output = (root / "i" / (std::to_string(k) + ".jpg")).string();
        card.background = favourites ? favouritesBackground : catalogueBackground;
        cards.push_back(card);
    }
}

bool writeSceneImages(const fs::path& root, std::string& error) {
    Canvas canvas;
    resizeCanvas(canvas, thumbnailWidth, thumbnailHeight);
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

// Writes the link files of both lists and adds the cards of their
// thumbnails: list 1's channels named after their address, list 2's empty
// favourite slots (kept when refreshing a root in use).
bool writeChannelLists(const fs::path& root, const std::map<int, std::string>& links,
                       bool keepState, bool keepCatalogue, std::vector<CardRequest>& cards,
                       std::string& error) {
    std::error_code code;
    for (int channel = 1; channel <= sampleChannelCount; ++channel) {
        const int link = sampleLinkNumber(channel);
        const std::string name = std::to_string(channel);
        if (!keepCatalogue) {
            const auto address = links.find(link);
            CardRequest card;
            card.name = address == links.end() ? "CHANNEL " + name : channelLabel(address->second);
            card.number = channel;
            card.output = (root / "1" / (name + ".Quillon")).string();
            cards.push_back(card);
            // The name on the card is the link file's second line, as in an
            // imported catalogue: what find mode searches.
            if (!writeTextFile(root / "1" / (name + ".txt"), std::to_string(link) + "\n" + card.name + "\n",
                               error))
                return false;
        }

        const fs::path thumbnail = root / "2" / (name + ".Quillon");
        if (!(keepState && fs::exists(thumbnail, code))) {
            CardRequest slot;
            slot.name = "EMPTY FAVOURITE SLOT";
            slot.number = channel;
            slot.output = thumbnail.string();
            slot.background = emptySlotBackground;
            cards.push_back(slot);
        }
        const fs::path linkFile = root / "2" / (name + ".txt");
        if (!(keepState && fs::exists(linkFile, code)) &&
            !writeTextFile(linkFile, std::to_string(link), error))
            return false;
    }
    return true;
}

// Makes every card with the card maker: in parallel, and copied from the
// card cache when the same card was made before (a rebuilt root, the second
// root of a build).
bool writeCards(const std::vector<CardRequest>& cards, const std::string& cardCache,
                std::string& error) {
    CardOptions options;
    options.cacheFolder = cardCache;
    options.network = false;
    const std::vector<CardResult> results = makeCards(cards, options);
    for (size_t i = 0; i < results.size(); ++i)
        if (!results[i].written) {
            error = results[i].problem.empty() ? "cannot write " + cards[i].output
                                               : results[i].problem;
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
               const std::string& cardCache, std::string& error) {
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
    if (!writeSceneImages(root, error)) return false;
    std::vector<CardRequest> cards;
    addPlaceholderCards(root, cards);
    if (!writeChannelLists(root, links, keepState, importedCatalogue, cards, error)) return false;
    return writeCards(cards, cardCache, error);
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

std::map<int, std::string> readLinkTable(const std::string& path) {
    std::map<int, std::string> table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        // A card is labelled after its address even when the viewer would
        // refuse to open it: the checker reports such an address.
        const DirectoryLineReading reading = readDirectoryLine(line);
        if (reading.line == directoryEntry || reading.refusal == DirectoryRefusal::unsafeAddress)
            table.emplace(static_cast<int>(reading.link), reading.address);
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

int sampleLinkNumber(int channel) { return (channel - 1) % deliveredLinkCount + 1; }

bool makeDataRoot(const std::string& target, const std::string& textRoot, MakeMode mode,
                  std::string& error, const std::string& cardCache) {
    std::error_code code;
    if (!fs::is_directory(fs::path(textRoot) / "n", code)) {
        error = "no text data in " + textRoot + " (expected the folder n/ and links.tsv there)";
        return false;
    }
    const fs::path folder(target);
    const fs::path root = folder / rootFolderName;
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
        return writeRoot(root, textRoot, true, cardCache, error);
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
    if (!writeRoot(staging, textRoot, false, cardCache, error)) {
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
