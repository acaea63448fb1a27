#include "guide/guide.h"

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "import/playlist.h"

namespace {

constexpr size_t inputChunk = 256 * 1024;
// Memory the xz decoder may use: xz files made with the highest presets need
// 64 MiB; more is refused rather than taken.
constexpr uint64_t xzMemoryLimit = 128ull << 20;

enum class Packing { plain, gzip, xz };

// The bytes libxml2 reads: the file, decompressed as it goes, counted
// against the cap, and watched before the root element for entity
// declarations.
struct GuideSource {
    int fd = -1;
    Packing packing = Packing::plain;
    z_stream zip{};
    bool zipOpen = false;
    bool zipEnded = false;
    lzma_stream xz = LZMA_STREAM_INIT;
    bool xzOpen = false;
    std::vector<unsigned char> input;
    size_t inputStart = 0, inputEnd = 0;
    bool inputAtEnd = false;
    unsigned long long produced = 0;
    unsigned long long limit = 0;
    std::string error;
    // The prolog watch: a few bytes of what came before, whether a comment is
    // open, whether the root element has started.
    std::string window;
    bool inComment = false;
    bool prologDone = false;
};

std::string systemReason(int number) { return std::strerror(number); }

// Fills the input buffer when it is empty; false on a read error.
bool fillInput(GuideSource& source) {
    if (source.inputStart < source.inputEnd || source.inputAtEnd) return true;
    for (;;) {
        const ssize_t got = read(source.fd, source.input.data(), source.input.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            source.error = "cannot read the guide: " + systemReason(errno);
            return false;
        }
        source.inputStart = 0;
        source.inputEnd = static_cast<size_t>(got);
        if (got == 0) source.inputAtEnd = true;
        return true;
    }
}

// Decompressed bytes into `out`; 0 at the end, -1 on an error.
long produce(GuideSource& source, unsigned char* out, size_t room) {
    if (!fillInput(source)) return -1;
    if (source.packing == Packing::plain) {
        const size_t n = std::min(room, source.inputEnd - source.inputStart);
        std::memcpy(out, source.input.data() + source.inputStart, n);
        source.inputStart += n;
        return static_cast<long>(n);
    }
    if (source.packing == Packing::gzip) {
        for (;;) {
            if (source.zipEnded) {
                // Another gzip member may follow (files joined with cat).
                if (!fillInput(source)) return -1;
                if (source.inputStart == source.inputEnd) return 0;
                inflateReset(&source.zip);
                source.zipEnded = false;
            }
            if (!fillInput(source)) return -1;
            source.zip.next_in = source.input.data() + source.inputStart;
            source.zip.avail_in = static_cast<uInt>(source.inputEnd - source.inputStart);
            source.zip.next_out = out;
            source.zip.avail_out = static_cast<uInt>(room);
            const int status = inflate(&source.zip, Z_NO_FLUSH);
            source.inputStart = source.inputEnd - source.zip.avail_in;
            const size_t made = room - source.zip.avail_out;
            if (status == Z_STREAM_END) source.zipEnded = true;
            else if (status == Z_BUF_ERROR && source.inputAtEnd) {
                source.error = "the gzip data ends before its end (a cut-off download?)";
                return -1;
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                source.error = std::string("the gzip data is damaged") +
                               (source.zip.msg ? std::string(" (") + source.zip.msg + ")" : "");
                return -1;
            }
            if (made > 0) return static_cast<long>(made);
            if (source.inputAtEnd && source.inputStart == source.inputEnd) {
                if (source.zipEnded) return 0;
                source.error = "the gzip data ends before its end (a cut-off download?)";
                return -1;
            }
        }
    }
    for (;;) {
        if (!fillInput(source)) return -1;
        source.xz.next_in = source.input.data() + source.inputStart;
        source.xz.avail_in = source.inputEnd - source.inputStart;
        source.xz.next_out = out;
        source.xz.avail_out = room;
        const lzma_ret status = lzma_code(&source.xz, source.inputAtEnd ? LZMA_FINISH : LZMA_RUN);
        source.inputStart = source.inputEnd - source.xz.avail_in;
        const size_t made = room - source.xz.avail_out;
        if (status == LZMA_STREAM_END) return static_cast<long>(made);
        if (status == LZMA_MEMLIMIT_ERROR) {
            source.error = "the xz data needs more than " + std::to_string(xzMemoryLimit >> 20) +
                           " MiB to decompress";
            return -1;
        }
        if (status != LZMA_OK) {
            source.error = status == LZMA_BUF_ERROR
                               ? "the xz data ends before its end (a cut-off download?)"
                               : "the xz data is damaged";
            return -1;
        }
        if (made > 0) return static_cast<long>(made);
    }
}

// Watches the bytes before the root element: an entity declaration there is
// refused (entities are how small files become huge documents, and how XML
// reaches for other files).
bool watchProlog(GuideSource& source, const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size && !source.prologDone; ++i) {
        const unsigned char c = bytes[i];
        source.window.push_back(static_cast<char>(c));
        if (source.window.size() > 8) source.window.erase(0, source.window.size() - 8);
        auto endsWith = [&](const char* text) {
            const size_t n = std::strlen(text);
            return source.window.size() >= n &&
                   source.window.compare(source.window.size() - n, n, text) == 0;
        };
        if (source.inComment) {
            if (endsWith("-->")) source.inComment = false;
            continue;
        }
        if (endsWith("<!--")) {
            source.inComment = true;
        } else if (endsWith("<!ENTITY")) {
            source.error =
                "the guide declares entities (<!ENTITY>); guides with entity declarations are "
                "refused";
            return false;
        } else if (source.window.size() >= 2 && source.window[source.window.size() - 2] == '<' &&
                   (std::isalpha(c) || c >= 0x80 || c == '_')) {
            source.prologDone = true;
        }
    }
    return true;
}

int readCallback(void* context, char* buffer, int length) {
    GuideSource& source = *static_cast<GuideSource*>(context);
    if (!source.error.empty() || length <= 0) return -1;
    const long made = produce(source, reinterpret_cast<unsigned char*>(buffer),
                              static_cast<size_t>(length));
    if (made < 0) return -1;
    source.produced += static_cast<unsigned long long>(made);
    if (source.produced > source.limit) {
        source.error = "the guide is larger than " + std::to_string(source.limit >> 20) +
                       " MiB once decompressed; it is not read further";
        return -1;
    }
    if (!watchProlog(source, reinterpret_cast<unsigned char*>(buffer), static_cast<size_t>(made)))
        return -1;
    return static_cast<int>(made);
}

int closeCallback(void*) { return 0; }

// Every external entity and DTD libxml2 would load is refused: a guide
// never makes the reader open a file or reach the network.
xmlParserInputPtr refuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

void installLoaderOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternal);
    });
}

struct ReaderErrors {
    std::string first;
    size_t line = 0;
};

void onReaderError(void* context, xmlErrorPtr error) {
    ReaderErrors& errors = *static_cast<ReaderErrors*>(context);
    if (!error || error->level < XML_ERR_ERROR || !errors.first.empty()) return;
    std::string message = error->message ? error->message : "the XML is not well-formed";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    errors.first = message;
    errors.line = error->line > 0 ? static_cast<size_t>(error->line) : 0;
}

const char* text(const xmlChar* value) { return reinterpret_cast<const char*>(value); }

bool named(const xmlChar* name, const char* wanted) {
    return name && std::strcmp(text(name), wanted) == 0;
}

// Appends up to `cap` bytes; what is beyond is counted in `dropped`.
void appendCapped(std::string& target, const char* value, size_t cap, bool& dropped) {
    if (!value) return;
    const size_t length = std::strlen(value);
    const size_t room = target.size() < cap ? cap - target.size() : 0;
    target.append(value, std::min(room, length));
    if (length > room) dropped = true;
}

// A short text as the cards show it: valid UTF-8, one line, at most
// maxGuideTitle bytes ending in an ellipsis when cut.
std::string shownText(std::string raw, bool cut) {
    bool repaired = false;
    std::string clean = repairUtf8(raw, repaired);
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    std::string out;
    bool space = false;
    for (char c : clean) {
        if (c == ' ') {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(c);
    }
    const size_t keep = maxGuideTitle - 3;
    if (out.size() > keep || cut) {
        size_t end = std::min(out.size(), keep);
        while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80) --end;
        out.resize(end);
        out += "\xE2\x80\xA6";
    }
    return out;
}

// The text of the element the reader is on (its text children), capped.
// Leaves the reader on the element's end.
bool readElementText(xmlTextReaderPtr reader, std::string& value, bool& cut) {
    if (xmlTextReaderIsEmptyElement(reader)) return true;
    const int depth = xmlTextReaderDepth(reader);
    for (;;) {
        const int status = xmlTextReaderRead(reader);
        if (status != 1) return false;
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(reader) == depth) return true;
        if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
            type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE || type == XML_READER_TYPE_WHITESPACE)
            appendCapped(value, text(xmlTextReaderConstValue(reader)), maxGuideTitle * 2, cut);
        if (type == XML_READER_TYPE_ENTITY_REFERENCE) return false;
    }
}

std::string attribute(xmlTextReaderPtr reader, const char* name) {
    std::string value;
    if (xmlTextReaderMoveToAttribute(reader, reinterpret_cast<const xmlChar*>(name)) == 1) {
        if (const xmlChar* v = xmlTextReaderConstValue(reader)) value = text(v);
        xmlTextReaderMoveToElement(reader);
    }
    if (value.size() > maxGuideTitle) value.resize(maxGuideTitle);
    return value;
}

bool openSource(const std::string& path, GuideSource& source, std::string& error) {
    source.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (source.fd < 0) {
        error = "cannot open " + path + ": " + systemReason(errno);
        return false;
    }
    struct stat info;
    if (fstat(source.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    // Reads after the open wait for the disk as usual.
    fcntl(source.fd, F_SETFL, fcntl(source.fd, F_GETFL) & ~O_NONBLOCK);
    source.input.resize(inputChunk);
    if (!fillInput(source)) {
        error = source.error;
        return false;
    }
    const unsigned char* head = source.input.data();
    const size_t have = source.inputEnd;
    if (have >= 2 && head[0] == 0x1f && head[1] == 0x8b) {
        source.packing = Packing::gzip;
        if (inflateInit2(&source.zip, 15 + 16) != Z_OK) {
            error = "cannot start the gzip decoder";
            return false;
        }
        source.zipOpen = true;
    } else if (have >= 6 && std::memcmp(head, "\xFD" "7zXZ\0", 6) == 0) {
        source.packing = Packing::xz;
        if (lzma_stream_decoder(&source.xz, xzMemoryLimit, LZMA_CONCATENATED) != LZMA_OK) {
            error = "cannot start the xz decoder";
            return false;
        }
        source.xzOpen = true;
    }
    return true;
}

void closeSource(GuideSource& source) {
    if (source.zipOpen) inflateEnd(&source.zip);
    if (source.xzOpen) lzma_end(&source.xz);
    if (source.fd >= 0) close(source.fd);
}

void report(const GuideSinks& sinks, size_t line, const std::string& reason) {
    if (sinks.problem) sinks.problem(GuideProblem{line, reason});
}

int digitsAt(const std::string& text, size_t pos, size_t count) {
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::optional<long long> parseGuideTime(const std::string& value) {
    size_t pos = 0;
    while (pos < value.size() && value[pos] == ' ') ++pos;
    const size_t start = pos;
    while (pos < value.size() && value[pos] >= '0' && value[pos] <= '9') ++pos;
    const size_t digits = pos - start;
    if (digits != 8 && digits != 10 && digits != 12 && digits != 14) return std::nullopt;
    const int year = digitsAt(value, start, 4), month = digitsAt(value, start + 4, 2),
              day = digitsAt(value, start + 6, 2);
    const int hour = digits >= 10 ? digitsAt(value, start + 8, 2) : 0;
    const int minute = digits >= 12 ? digitsAt(value, start + 10, 2) : 0;
    const int second = digits >= 14 ? digitsAt(value, start + 12, 2) : 0;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    long long seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                        hour * 3600 + minute * 60 + second;
    while (pos < value.size() && value[pos] == ' ') ++pos;
    if (pos < value.size()) {
        const char sign = value[pos];
        if (sign != '+' && sign != '-') return std::nullopt;
        const int hours = digitsAt(value, pos + 1, 2), minutes = digitsAt(value, pos + 3, 2);
        if (hours < 0 || minutes < 0 || hours > 14 || minutes > 59) return std::nullopt;
        pos += 5;
        while (pos < value.size() && value[pos] == ' ') ++pos;
        if (pos != value.size()) return std::nullopt;
        const long long offset = hours * 3600 + minutes * 60;
        // The time is local to the offset: UTC is that time less the offset.
        seconds -= sign == '+' ? offset : -offset;
    }
    return seconds;
}

std::string normalisedChannelName(const std::string& name) {
    auto isWordByte = [](unsigned char c) {
        return c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    };
    // A last word "HD", "FHD" or "UHD" is the picture's quality, not the name.
    size_t end = name.size();
    while (end > 0 && !isWordByte(static_cast<unsigned char>(name[end - 1]))) --end;
    size_t start = end;
    while (start > 0 && isWordByte(static_cast<unsigned char>(name[start - 1]))) --start;
    std::string last = name.substr(start, end - start);
    for (char& c : last)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    size_t keep = name.size();
    if (start > 0 && (last == "hd" || last == "fhd" || last == "uhd")) keep = start;
    std::string out;
    for (size_t i = 0; i < keep; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 'A' && c <= 'Z') out.push_back(static_cast<char>(c - 'A' + 'a'));
        else if (isWordByte(c)) out.push_back(name[i]);
    }
    return out;
}

long long guideShiftSeconds(const std::string& value) {
    if (value.empty() || value.size() > 16) return 0;
    char* end = nullptr;
    const double hours = std::strtod(value.c_str(), &end);
    while (end && *end == ' ') ++end;
    if (!end || *end != '\0' || !std::isfinite(hours) || hours < -24 || hours > 24) return 0;
    return std::llround(hours * 3600);
}

GuideReadResult readGuideFile(const std::string& path, const GuideSinks& sinks,
                              const GuideLimits& limits) {
    GuideReadResult result;
    installLoaderOnce();
    GuideSource source;
    source.limit = limits.maxXmlBytes;
    if (!openSource(path, source, result.error)) {
        closeSource(source);
        return result;
    }
    ReaderErrors errors;
    // No entity substitution, no DTD loaded, nothing from the network; no
    // recovery: a broken document stops where it breaks.
    xmlTextReaderPtr reader = xmlReaderForIO(readCallback, closeCallback, &source, nullptr, nullptr,
                                             XML_PARSE_NONET | XML_PARSE_COMPACT |
                                                 XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    if (!reader) {
        result.error = source.error.empty() ? "the guide is empty" : source.error;
        closeSource(source);
        return result;
    }
    xmlTextReaderSetStructuredErrorHandler(reader, onReaderError, &errors);

    bool channelsCapped = false, programmesCapped = false;
    size_t untimed = 0;
    size_t firstUntimedLine = 0;
    std::string refusal;
    int status;
    while ((status = xmlTextReaderRead(reader)) == 1) {
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_ENTITY_REFERENCE || type == XML_READER_TYPE_ENTITY) {
            refusal = "the guide uses entities other than the five XML predefines; refused";
            break;
        }
        if (type != XML_READER_TYPE_ELEMENT) continue;
        const int depth = xmlTextReaderDepth(reader);
        if (depth == 0) continue;  // <tv>
        const xmlChar* name = xmlTextReaderConstLocalName(reader);
        const size_t line = static_cast<size_t>(xmlTextReaderGetParserLineNumber(reader));
        if (depth == 1 && named(name, "programme")) {
            GuideProgramme programme;
            programme.channel = attribute(reader, "channel");
            const std::optional<long long> start = parseGuideTime(attribute(reader, "start"));
            const std::string stopText = attribute(reader, "stop");
            const std::optional<long long> stop = parseGuideTime(stopText);
            bool cut = false, haveTitle = false;
            std::string title;
            // Outside the window kept: only its end is looked for.
            const bool wanted = !start || !stop || (*stop > limits.keepFrom && *start < limits.keepUntil);
            if (!xmlTextReaderIsEmptyElement(reader)) {
                for (;;) {
                    if (xmlTextReaderRead(reader) != 1) break;
                    const int inner = xmlTextReaderNodeType(reader);
                    const int innerDepth = xmlTextReaderDepth(reader);
                    if (inner == XML_READER_TYPE_END_ELEMENT && innerDepth == 1) break;
                    if (inner == XML_READER_TYPE_ENTITY_REFERENCE) {
                        refusal = "the guide uses entities other than the five XML predefines; refused";
                        break;
                    }
                    if (inner != XML_READER_TYPE_ELEMENT || innerDepth != 2) continue;
                    if (wanted && !haveTitle && named(xmlTextReaderConstLocalName(reader), "title")) {
                        haveTitle = true;
                        if (!readElementText(reader, title, cut)) break;
                    }
                    // Descriptions, credits, ratings: read past.
                }
            }
            if (!refusal.empty()) break;
            if (!start || programme.channel.empty() || (!stopText.empty() && !stop)) {
                if (untimed++ == 0) firstUntimedLine = line;
                continue;
            }
            if (result.programmes >= limits.maxProgrammes) {
                if (!programmesCapped)
                    report(sinks, line,
                           "the guide holds more than " + std::to_string(limits.maxProgrammes) +
                               " programmes; the rest are passed over");
                programmesCapped = true;
                continue;
            }
            ++result.programmes;
            if (!wanted) continue;
            programme.start = *start;
            programme.stop = stop ? *stop : 0;
            programme.title = shownText(std::move(title), cut);
            if (sinks.programme) sinks.programme(programme);
        } else if (depth == 1 && named(name, "channel")) {
            GuideChannel channel;
            channel.id = attribute(reader, "id");
            if (!xmlTextReaderIsEmptyElement(reader)) {
                for (;;) {
                    if (xmlTextReaderRead(reader) != 1) break;
                    const int inner = xmlTextReaderNodeType(reader);
                    if (inner == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(reader) == 1) break;
                    if (inner == XML_READER_TYPE_ENTITY_REFERENCE) {
                        refusal = "the guide uses entities other than the five XML predefines; refused";
                        break;
                    }
                    if (inner == XML_READER_TYPE_ELEMENT && xmlTextReaderDepth(reader) == 2 &&
                        named(xmlTextReaderConstLocalName(reader), "display-name")) {
                        std::string display;
                        bool cut = false;
                        if (!readElementText(reader, display, cut)) break;
                        if (channel.names.size() < 16) channel.names.push_back(shownText(display, cut));
                    }
                }
            }
            if (!refusal.empty()) break;
            if (channel.id.empty()) continue;
            if (result.channels >= limits.maxChannels) {
                if (!channelsCapped)
                    report(sinks, line,
                           "the guide holds more than " + std::to_string(limits.maxChannels) +
                               " channels; the rest are passed over");
                channelsCapped = true;
                continue;
            }
            ++result.channels;
            if (sinks.channel) sinks.channel(channel);
        }
    }
    if (untimed > 0)
        report(sinks, firstUntimedLine,
               std::to_string(untimed) +
                   (untimed == 1 ? " programme has" : " programmes have") +
                   " no channel or no readable start or stop time; passed over" +
                   (untimed > 1 ? " (the first is on this line)" : ""));
    const size_t lastLine = static_cast<size_t>(xmlTextReaderGetParserLineNumber(reader));
    result.xmlBytes = source.produced;
    if (!refusal.empty()) {
        result.error = refusal;
        result.errorLine = lastLine;
    } else if (source.produced == 0 && source.error.empty()) {
        result.error = "the guide is empty";
    } else if (!source.error.empty()) {
        result.error = source.error;
        result.errorLine = lastLine;
    } else if (status != 0 || !errors.first.empty()) {
        result.error = errors.first.empty() ? "the XML is not well-formed" : errors.first;
        result.errorLine = errors.line ? errors.line : lastLine;
    } else {
        result.complete = true;
    }
    xmlFreeTextReader(reader);
    closeSource(source);
    return result;
}
