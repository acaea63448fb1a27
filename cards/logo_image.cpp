#include "cards/logo_image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <vips/vips.h>
// vips_vector_set_enabled; not in vips.h
#include <vips/vector.h>

namespace {

// The loaders a logo may go through: the formats logos come in. Everything
// else libvips could read (PDF, TIFF, FITS, ImageMagick's many formats) is
// more attack surface than any logo is worth.
const char* const logoLoaders[] = {"pngload_buffer", "jpegload_buffer", "webpload_buffer",
                                   "gifload_buffer", "svgload_buffer"};

// The images one decode holds, released together whatever step failed.
struct DecodeImages {
    VipsImage* header = nullptr;
    VipsImage* scaled = nullptr;
    VipsImage* coloured = nullptr;
    VipsImage* bytes = nullptr;

    ~DecodeImages() {
        for (VipsImage* image : {header, scaled, coloured, bytes})
            if (image) g_object_unref(image);
    }
};

// libvips's own words for the last failure, first line only, and its error
// buffer emptied for the next one.
std::string vipsReason() {
    char* copy = vips_error_buffer_copy();
    std::string reason = copy ? copy : "";
    g_free(copy);
    reason = reason.substr(0, reason.find('\n'));
    return reason.empty() ? std::string() : " (" + reason + ")";
}

void ignoreMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// When a decode must stop, and whether it was stopped for that.
struct DecodeDeadline {
    std::chrono::steady_clock::time_point end;
    VipsImage* computed = nullptr;  // the image whose pixels are being made
    bool passed = false;
};

// Called by libvips after each tile of the image being computed: past the
// deadline the computation is told to stop, and fails.
void onEval(VipsImage* image, VipsProgress*, gpointer data) {
    auto* deadline = static_cast<DecodeDeadline*>(data);
    if (std::chrono::steady_clock::now() < deadline->end) return;
    deadline->passed = true;
    vips_image_set_kill(image, TRUE);
    if (deadline->computed) vips_image_set_kill(deadline->computed, TRUE);
}

}  // namespace

FitSize fitInside(int width, int height, int boxWidth, int boxHeight, double maxEnlargement) {
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return {1, 1};
    const double scale = std::min({static_cast<double>(boxWidth) / width,
                                   static_cast<double>(boxHeight) / height, maxEnlargement});
    const auto side = [scale](int length, int limit) {
        return std::clamp(static_cast<int>(std::lround(length * scale)), 1, limit);
    };
    return {side(width, boxWidth), side(height, boxHeight)};
}

std::string drawingSizeProblem(long long width, long long height, FitSize fit) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width * height > maxLogoPixels)
        return "the drawing declares " + size + " pixels, more than a logo may have (" +
               std::to_string(maxLogoPixels / 1000000) + " million)";
    if (fit.width <= 0 || fit.height <= 0 || static_cast<double>(fit.width) / width < minDrawingScale ||
        static_cast<double>(fit.height) / height < minDrawingScale)
        return "the drawing declares " + size + " pixels, too large to draw as a logo";
    return std::string();
}

bool startImageLibrary() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
#ifdef __GLIBC__
        // libvips takes (and zeroes) a few megabytes of buffers for every
        // image it scales. glibc hands blocks that large out as fresh
        // mappings and returns them at once, so thousands of small logos
        // spend half their time in page faults; kept in the heap, the blocks
        // are reused.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
        started = vips_init("quillon") == 0;
        if (!started) return;
        // No run-time compiled vector code (liborc). Every scaling operation
        // compiled its own vector program and freed it when the operation
        // went; liborc hands out and takes back the memory of those programs
        // without a lock that all threads share, so cards drawn on several
        // threads at once corrupted the heap now and then ("double free or
        // corruption", a crash in orc_code_free). The plain C loops give the
        // same pixels; the card benchmark shows what they cost.
        vips_vector_set_enabled(FALSE);
        // One thread per image: the card maker runs several cards at once,
        // and small images gain nothing from libvips's own threads.
        vips_concurrency_set(1);
        // Each logo is decoded once; caching operations only keeps them.
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        // Loaders libvips does not consider hardened for hostile files are
        // blocked, but for SVG: logos come as SVG, and librsvg reads them
        // (only the formats of logoLoaders are ever used anyway).
        vips_block_untrusted_set(TRUE);
        // Damaged logos are routine; libvips's warnings about them would only
        // clutter the terminal of the program making cards.
        g_log_set_handler("VIPS", G_LOG_LEVEL_WARNING, ignoreMessage, nullptr);
        vips_operation_block_set("VipsForeignLoadSvg", FALSE);
    });
    return started;
}

bool decodeLogo(const std::string& bytes, int boxWidth, int boxHeight, RgbaImage& logo,
                std::string& problem, double secondsAllowed) {
    DecodeDeadline deadline;
    deadline.end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(std::max(0.0, secondsAllowed)));
    logo = RgbaImage();
    if (!startImageLibrary()) {
        problem = "the image library (libvips) cannot start";
        return false;
    }
    if (bytes.empty()) {
        problem = "the logo file is empty";
        return false;
    }
    void* data = const_cast<char*>(bytes.data());
    const char* loaderClass = vips_foreign_find_load_buffer(data, bytes.size());
    const char* loader = loaderClass ? vips_nickname_find(g_type_from_name(loaderClass)) : nullptr;
    if (!loader) {
        vipsReason();
        problem = "not an image in a format logos come in (PNG, JPEG, WebP, GIF, SVG)";
        return false;
    }
    const bool known =
        std::any_of(std::begin(logoLoaders), std::end(logoLoaders),
                    [loader](const char* name) { return std::strcmp(name, loader) == 0; });
    if (!known) {
        problem = std::string("an image format logos do not come in (") + loader + ")";
        return false;
    }
    const bool drawing = std::strcmp(loader, "svgload_buffer") == 0;

    DecodeImages images;
    // The header alone: libvips reads pixels only when asked for them.
    images.header = vips_image_new_from_buffer(data, bytes.size(), "", "access",
                                               VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!images.header) {
        problem = "the image is damaged" + vipsReason();
        return false;
    }
    const int width = vips_image_get_width(images.header);
    const int height = vips_image_get_height(images.header);
    if (width <= 0 || height <= 0) {
        problem = "the image has no size";
        return false;
    }
    if (!drawing && static_cast<long long>(width) * height > maxLogoPixels) {
        problem = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
                  " pixels, more than a logo may have (" + std::to_string(maxLogoPixels / 1000000) +
                  " million)";
        return false;
    }
    const FitSize size =
        fitInside(width, height, boxWidth, boxHeight, drawing ? 1e6 : maxLogoEnlargement);
    if (drawing) {
        problem = drawingSizeProblem(width, height, size);
        if (!problem.empty()) return false;
    }

    // Thumbnailing shrinks while loading where the format allows (JPEG, WebP,
    // SVG), takes the first frame of an animation and turns CMYK into sRGB.
    // A file that ends early fails rather than showing a part of the logo
    // (the loader's own option: thumbnailing does not pass its fail_on on).
    if (vips_thumbnail_buffer(data, bytes.size(), &images.scaled, size.width, "height", size.height,
                              "option_string", "fail_on=truncated", nullptr) != 0) {
        problem = "the image cannot be decoded" + vipsReason();
        return false;
    }
    // Thumbnails of the usual logos come out as 8-bit sRGB or grey already;
    // anything else (16 bits, other colour spaces) is converted first.
    VipsImage* ready = images.scaled;
    const VipsInterpretation interpretation = vips_image_get_interpretation(ready);
    if (vips_image_get_format(ready) != VIPS_FORMAT_UCHAR ||
        (interpretation != VIPS_INTERPRETATION_sRGB && interpretation != VIPS_INTERPRETATION_B_W)) {
        if (vips_colourspace(ready, &images.coloured, VIPS_INTERPRETATION_sRGB, nullptr) != 0 ||
            vips_cast_uchar(images.coloured, &images.bytes, nullptr) != 0) {
            problem = "the image's colours cannot be converted" + vipsReason();
            return false;
        }
        ready = images.bytes;
    }
    const int bands = vips_image_get_bands(ready);
    if (bands < 1 || bands > 4) {
        problem = "the image has " + std::to_string(bands) + " channels, not a logo's colours";
        return false;
    }
    // The pixels are computed only now: the deadline watches every tile.
    // Progress goes to the image furthest upstream that asked for it (a
    // loader may have): the deadline listens there.
    vips_image_set_progress(ready, TRUE);
    VipsImage* signalling = ready->progress_signal ? ready->progress_signal : ready;
    deadline.computed = ready;
    g_signal_connect(signalling, "eval", G_CALLBACK(onEval), &deadline);
    size_t length = 0;
    void* pixels = vips_image_write_to_memory(ready, &length);
    g_signal_handlers_disconnect_by_data(signalling, &deadline);
    // libvips reports progress only now and then: a logo that ended past
    // its time without being told to stop fails as well.
    if (std::chrono::steady_clock::now() >= deadline.end) deadline.passed = true;
    if (!pixels || deadline.passed) {
        if (pixels) g_free(pixels);
        const std::string reason = vipsReason();
        problem = deadline.passed ? "drawing the logo took longer than " +
                                        std::to_string(static_cast<int>(std::ceil(secondsAllowed))) + " s"
                                  : "the image cannot be decoded" + reason;
        return false;
    }
    const int outWidth = vips_image_get_width(ready), outHeight = vips_image_get_height(ready);
    const size_t count = static_cast<size_t>(outWidth) * outHeight;
    if (length == count * bands) {
        // Grey, grey and alpha, RGB or RGBA, spread out to RGBA.
        const unsigned char* source = static_cast<const unsigned char*>(pixels);
        logo.width = outWidth;
        logo.height = outHeight;
        logo.pixels.resize(count * 4);
        for (size_t i = 0; i < count; ++i, source += bands) {
            unsigned char* target = &logo.pixels[i * 4];
            const bool grey = bands < 3;
            target[0] = source[0];
            target[1] = grey ? source[0] : source[1];
            target[2] = grey ? source[0] : source[2];
            target[3] = bands == 2 ? source[1] : bands == 4 ? source[3] : 255;
        }
    } else {
        problem = "the image decoded to an unexpected size";
    }
    g_free(pixels);
    return !logo.pixels.empty();
}
