// Decoding JPEG files into pixel buffers for the texture registry. No
// OpenGL here, so that the decoder can be exercised on its own (tests,
// fuzzing).
//
// libjpeg reports fatal errors through its error manager, whose standard
// version ends the process. Here the error manager prints libjpeg's message
// on standard error and jumps back into the decoder, so that a damaged or
// foreign file is an ordinary load failure. A file that ends while image data
// is still needed (a truncated download, a half-written thumbnail) counts as
// damaged too, although libjpeg itself would pad the picture with grey and go
// on. A file that only lacks its end marker decodes whole and is kept; other
// recoverable damage only prints libjpeg's warning and decoding goes on.
#include "assets/image.h"

#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "assets/file_bytes.h"
#include "platform/report.h"

namespace {

// Images wider or higher than the pixel cap (maxImageSide, 4096) are refused
// from their header, before anything is allocated or decoded: no image the
// wall shows comes near it, a damaged header may claim anything, and a
// page of giant but valid images would stall the wall and take gigabytes.
static_assert(maxImageSide == 4096, "the refusal message names the pixel cap");
// Working memory libjpeg may take beside the pixel buffer (progressive files
// keep every coefficient of the image).
constexpr long maxDecoderMemory = 512L << 20;
// Real progressive files have about ten scans; thousands of tiny scans only
// make decoding slow.
constexpr int maxScans = 256;

// Everything the decoder holds while libjpeg runs, so that the error path
// can release it after jumping back.
struct DecodeJob {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    void (*standardMessage)(j_common_ptr, int) = nullptr;
    std::jmp_buf resume;
    bool dataEnded = false;      // libjpeg ran past the end of the data
    bool oversized = false;      // refused for its size
    bool headerOnly = false;     // stop once the header has been judged
    unsigned char* pixels = nullptr;
    unsigned char* cmykRow = nullptr;
};

DecodeJob& jobOf(j_common_ptr info) {
    return *static_cast<DecodeJob*>(info->client_data);
}

[[noreturn]] void abandonDecode(j_common_ptr info) {
    std::longjmp(jobOf(info).resume, 1);
}

[[noreturn]] void failDecode(j_common_ptr info, const char* why) {
    report(ReportLevel::problem, std::string("JPEG: ") + why);
    abandonDecode(info);
}

// libjpeg's messages, as its own output would print them, through the
// report channel.
void onDecoderOutput(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    report(ReportLevel::problem, text);
}

// libjpeg's fatal errors: its own message, then back to the decoder.
[[noreturn]] void onDecodeError(j_common_ptr info) {
    (*info->err->output_message)(info);
    abandonDecode(info);
}

// Warnings. Running past the end of the data only means the file is
// truncated once the decoder then misses data it needs (a file without its
// end marker also runs past the end, with the image complete).
void onDecodeMessage(j_common_ptr info, int level) {
    DecodeJob& job = jobOf(info);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) {
        job.dataEnded = true;
        return;
    }
    if (level < 0 && info->err->msg_code == JWRN_HIT_MARKER && job.dataEnded) {
        info->err->msg_code = JWRN_JPEG_EOF;
        onDecodeError(info);
    }
    job.standardMessage(info, level);
}

void onDecodeProgress(j_common_ptr info) {
    auto decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > maxScans) failDecode(info, "too many scans");
}

// Adobe's convention (every file with an Adobe marker) stores CMYK
// inverted, 255 meaning no ink; other files store the ink itself.
void cmykRowToRgb(const unsigned char* cmyk, unsigned char* rgb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        rgb[0] = static_cast<unsigned char>((c * k + 127) / 255);
        rgb[1] = static_cast<unsigned char>((m * k + 127) / 255);
        rgb[2] = static_cast<unsigned char>((y * k + 127) / 255);
    }
}

// Decodes into job.pixels; false when libjpeg or a limit gave up. Holds no
// object with a destructor, since errors jump back here.
bool runDecode(DecodeJob& job, const unsigned char* data, size_t size, int& components) {
    if (setjmp(job.resume)) return false;
    j_decompress_ptr info = &job.info;
    jpeg_create_decompress(info);
    info->client_data = &job;
    info->mem->max_memory_to_use = maxDecoderMemory;
    job.progress.progress_monitor = onDecodeProgress;
    info->progress = &job.progress;
    jpeg_mem_src(info, data, static_cast<unsigned long>(size));
    jpeg_read_header(info, TRUE);

    bool cmyk = false;
    switch (info->jpeg_color_space) {
    case JCS_GRAYSCALE:
        info->out_color_space = JCS_GRAYSCALE;
        components = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        info->out_color_space = JCS_RGB;
        components = 3;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info->out_color_space = JCS_CMYK;
        components = 3;
        cmyk = true;
        break;
    default:
        failDecode(reinterpret_cast<j_common_ptr>(info), "colour space not supported");
    }
    if (info->image_width > static_cast<JDIMENSION>(maxImageSide) ||
        info->image_height > static_cast<JDIMENSION>(maxImageSide)) {
        jobOf(reinterpret_cast<j_common_ptr>(info)).oversized = true;
        failDecode(reinterpret_cast<j_common_ptr>(info), "image larger than 4096 x 4096 pixels");
    }
    if (job.headerOnly) return true;

    jpeg_start_decompress(info);
    const JDIMENSION width = info->output_width;
    const JDIMENSION height = info->output_height;
    const size_t stride = static_cast<size_t>(width) * components;
    job.pixels = new (std::nothrow) unsigned char[stride * height];
    if (cmyk) job.cmykRow = new (std::nothrow) unsigned char[static_cast<size_t>(width) * 4];
    if (!job.pixels || (cmyk && !job.cmykRow))
        failDecode(reinterpret_cast<j_common_ptr>(info), "out of memory");

    // libjpeg delivers the top row first; it goes to the end of the buffer,
    // so that the buffer holds the rows bottom-up.
    while (info->output_scanline < height) {
        unsigned char* target = job.pixels + stride * (height - 1 - info->output_scanline);
        JSAMPROW row = cmyk ? job.cmykRow : target;
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            failDecode(reinterpret_cast<j_common_ptr>(info), "no scanline delivered");
        if (cmyk) cmykRowToRgb(job.cmykRow, target, width, info->saw_Adobe_marker);
    }
    jpeg_finish_decompress(info);
    return true;
}

}  // namespace

long decodeCount = 0;

namespace {

void prepareJob(DecodeJob& job) {
    job.info.err = jpeg_std_error(&job.errors);
    job.standardMessage = job.errors.emit_message;
    job.errors.error_exit = onDecodeError;
    job.errors.output_message = onDecoderOutput;
    job.errors.emit_message = onDecodeMessage;
    job.info.client_data = &job;
}

}  // namespace

JpegFailure probeJpegMemory(const unsigned char* data, size_t size) {
    DecodeJob job;
    prepareJob(job);
    job.headerOnly = true;
    int components = 0;
    const bool read = runDecode(job, data, size, components);
    jpeg_destroy_decompress(&job.info);
    return read ? JpegFailure::none : job.oversized ? JpegFailure::oversized : JpegFailure::damaged;
}

std::optional<Image> decodeJpegMemory(const unsigned char* data, size_t size, const std::string& label,
                                      JpegFailure* failure) {
    DecodeJob job;
    prepareJob(job);

    int components = 0;
    const bool decoded = runDecode(job, data, size, components);
    const int width = static_cast<int>(job.info.output_width);
    const int height = static_cast<int>(job.info.output_height);
    jpeg_destroy_decompress(&job.info);
    delete[] job.cmykRow;
    if (failure) *failure = decoded ? JpegFailure::none : job.oversized ? JpegFailure::oversized : JpegFailure::damaged;
    if (!decoded) {
        delete[] job.pixels;
        report(ReportLevel::note, "Impossível carregar arquivo JPG: " + label);
        return std::nullopt;
    }
    Image image;
    image.components = components;
    image.width = width;
    image.height = height;
    image.pixels.reset(job.pixels);
    ++decodeCount;
    return image;
}

std::optional<Image> decodeJpeg(const std::string& path) {
    std::string bytes;
    const FileOutcome outcome = readAssetFile(path, imageFileLimit, bytes);
    if (outcome != fileRead) {
        reportUnreadableAsset(path, outcome, imageFileLimit);
        report(ReportLevel::note, "Impossível carregar arquivo JPG: " + path);
        return std::nullopt;
    }
    return decodeJpegMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), path);
}
