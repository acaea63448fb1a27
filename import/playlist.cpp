#include "import/playlist.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "dataroot/url_directory_file.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
    return true;
}

std::string trimmed(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && isSpace(text[start])) ++start;
    while (end > start && isSpace(text[end - 1])) --end;
    return text.substr(start, end - start);
}

// The UTF-8 sequence starting at text[i]: its length when it is
// well-formed, or 0 with `prefix` set to the length of its longest start
// that could still have been well-formed (at least 1). Overlong forms,
// surrogates and values past U+10FFFF are not well-formed.
size_t utf8Sequence(const std::string& text, size_t i, size_t& prefix) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    prefix = 1;
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    size_t k = 1;
    while (k < length && i + k < text.size()) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) break;
        ++k;
    }
    prefix = k;
    return k == length ? length : 0;
}

size_t utf8SequenceAt(const std::string& text, size_t i) {
    size_t prefix;
    return utf8Sequence(text, i, prefix);
}

const char replacementCharacter[] = "\xEF\xBF\xBD";

// The code points 0x80 to 0x9F of Windows-1252, the single-byte encoding old
// playlists are most often written in; 0 where it has none.
const unsigned short windows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendCodePoint(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// A line that is not UTF-8 and holds no multi-byte UTF-8 sequence at all is
// taken to be in Windows-1252 (Latin-1 with the typographic marks), which is
// what such playlists nearly always are; anything else gets U+FFFD for each
// broken sequence.
std::string textAsUtf8(const std::string& text, bool& repaired) {
    repaired = false;
    if (isValidUtf8(text)) return text;
    repaired = true;
    bool anyMultiByte = false;
    for (size_t i = 0; i < text.size() && !anyMultiByte; ++i)
        anyMultiByte = static_cast<unsigned char>(text[i]) >= 0x80 && utf8SequenceAt(text, i) > 1;
    if (anyMultiByte) return repairUtf8(text, repaired);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (unsigned char c : text) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c >= 0xA0)
            appendCodePoint(out, c);
        else if (windows1252High[c - 0x80] != 0)
            appendCodePoint(out, windows1252High[c - 0x80]);
        else
            out += replacementCharacter;
    }
    return out;
}

// Control characters (C0, DEL, C1) and the Unicode line and paragraph
// separators become spaces, runs of spaces one space, the ends are trimmed
// and the text is cut to `limit` bytes at a character boundary. The input is
// valid UTF-8.
std::string oneLineText(const std::string& text, size_t limit) {
    std::string out;
    out.reserve(std::min(text.size(), limit));
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = utf8SequenceAt(text, i);
        if (length == 0) length = 1;  // cannot happen for valid input
        bool space = c < 0x20 || c == 0x7F;
        if (c == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            space = true;  // C1 controls U+0080 to U+009F
        if (c == 0xE2 && length == 3 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(text[i + 2]) == 0xA9))
            space = true;  // U+2028, U+2029
        if (space || c == ' ') {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
        } else {
            if (out.size() + length > limit) break;
            out.append(text, i, length);
        }
        i += length;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// A short, printable excerpt of a line for a message.
std::string excerpt(const std::string& text) {
    constexpr size_t shown = 60;
    bool ignored;
    std::string clean = oneLineText(textAsUtf8(text, ignored), shown);
    if (clean.size() < text.size()) clean += "\xE2\x80\xA6";  // an ellipsis: there is more
    return "\"" + clean + "\"";
}

bool isKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// Attribute names are short; a longer run of name characters is not one.
constexpr size_t maxAttributeName = 40;

// Whether an attribute ("name=") starts at `pos` after optional white space.
bool attributeStartsAt(const std::string& text, size_t pos) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    const size_t start = pos;
    while (pos < text.size() && pos - start <= maxAttributeName && isKeyCharacter(text[pos])) ++pos;
    return pos > start && pos - start <= maxAttributeName && pos < text.size() && text[pos] == '=';
}

struct InfoLine {
    std::string name, tvgName, logo, otherLogo, group, tvgId, tvgShift, guides;
};

// The end of the quoted value opened just before `pos`: the first `quote`
// followed by the end of the line, by another attribute, or by the comma
// before the name. Values in the wild hold stray quotes and commas, so a
// quote followed by a comma ends the value only when no later quote is
// followed by an attribute. `lastAttributeQuote` is the position of the last
// such quote in the line (npos when none). Returns npos when the value is
// never closed.
size_t closingQuote(const std::string& text, size_t pos, char quote, size_t lastAttributeQuote) {
    for (size_t q = text.find(quote, pos); q != std::string::npos; q = text.find(quote, q + 1)) {
        size_t after = q + 1;
        while (after < text.size() && isSpace(text[after])) ++after;
        if (after == text.size()) return q;
        if (text[after] == ',') {
            if (lastAttributeQuote == std::string::npos || lastAttributeQuote <= q) return q;
            continue;
        }
        if (attributeStartsAt(text, q + 1)) return q;
    }
    return std::string::npos;
}

size_t lastQuoteBeforeAttribute(const std::string& text, char quote) {
    size_t last = std::string::npos;
    for (size_t q = text.find(quote); q != std::string::npos; q = text.find(quote, q + 1))
        if (attributeStartsAt(text, q + 1)) last = q;
    return last;
}

// "#EXTINF:<duration> name="value" ...,<channel name>", or the attributes of
// "#EXTM3U name="value" ..." (from `pos`, after the tag).
InfoLine parseInfoLine(const std::string& text, size_t pos = std::strlen("#EXTINF")) {
    InfoLine info;
    if (pos < text.size() && text[pos] == ':') ++pos;
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    // The duration: a number, usually -1 or 0.
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
    while (pos < text.size() && ((text[pos] >= '0' && text[pos] <= '9') || text[pos] == '.')) ++pos;

    // Found on first need: the last quote of each kind followed by an attribute.
    std::optional<size_t> lastDoubleQuote, lastSingleQuote;
    while (pos < text.size()) {
        while (pos < text.size() && isSpace(text[pos])) ++pos;
        if (pos >= text.size()) break;
        if (text[pos] == ',') {
            info.name = text.substr(pos + 1);
            break;
        }
        const size_t keyStart = pos;
        while (pos < text.size() && isKeyCharacter(text[pos])) ++pos;
        if (pos == keyStart || pos >= text.size() || text[pos] != '=' ||
            pos - keyStart > maxAttributeName) {
            // Not an attribute: a stray word or character, passed over.
            if (pos == keyStart) ++pos;
            while (pos < text.size() && !isSpace(text[pos]) && text[pos] != ',') ++pos;
            continue;
        }
        std::string key = text.substr(keyStart, pos - keyStart);
        std::transform(key.begin(), key.end(), key.begin(), lowerAscii);
        ++pos;  // '='
        std::string value;
        if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
            const char quote = text[pos++];
            std::optional<size_t>& lastQuote = quote == '"' ? lastDoubleQuote : lastSingleQuote;
            if (!lastQuote) lastQuote = lastQuoteBeforeAttribute(text, quote);
            size_t end = closingQuote(text, pos, quote, *lastQuote);
            if (end == std::string::npos) {
                // Never closed: the value runs to the comma before the name.
                end = text.find(',', pos);
                if (end == std::string::npos) end = text.size();
                value = text.substr(pos, end - pos);
                pos = end;
            } else {
                value = text.substr(pos, end - pos);
                pos = end + 1;
            }
        } else {
            const size_t start = pos;
            while (pos < text.size() && !isSpace(text[pos]) && text[pos] != ',') ++pos;
            value = text.substr(start, pos - start);
        }
        if (key == "tvg-name")
            info.tvgName = value;
        else if (key == "tvg-logo")
            info.logo = value;
        else if (key == "logo")
            info.otherLogo = value;
        else if (key == "group-title")
            info.group = value;
        else if (key == "tvg-id")
            info.tvgId = value;
        else if (key == "tvg-shift")
            info.tvgShift = value;
        else if (key == "url-tvg" || key == "x-tvg-url")
            info.guides += (info.guides.empty() ? "" : ",") + value;
    }
    if (info.logo.empty()) info.logo = info.otherLogo;
    return info;
}

const char* const keptSchemes = "http, https, rtmp, rtmps, rtsp, udp, rtp, mms";

// The address of an address line as the directory keeps it (scheme in lower
// case, spaces and bytes outside ASCII percent-encoded), or false with the
// reason it cannot be kept.
bool keepAddress(const std::string& text, std::string& address, std::string& reason) {
    const bool windowsPath = text.size() > 2 && text[1] == ':' && (text[2] == '\\' || text[2] == '/') &&
                             ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
    if (text[0] == '/' || text[0] == '~' || text[0] == '\\' || windowsPath) {
        reason = "a file on a disk, not a stream address";
        return false;
    }
    size_t schemeEnd = 0;
    if (!text.empty() && ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z')))
        while (schemeEnd < text.size() && schemeEnd <= 16 &&
               (isKeyCharacter(text[schemeEnd]) || text[schemeEnd] == '+') && text[schemeEnd] != ':')
            ++schemeEnd;
    if (schemeEnd == 0 || schemeEnd >= text.size() || text[schemeEnd] != ':') {
        reason = "not an address";
        return false;
    }
    std::string scheme = text.substr(0, schemeEnd);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), lowerAscii);
    static const char* const allowed[] = {"http", "https", "rtmp", "rtmps", "rtsp", "udp", "rtp", "mms"};
    if (std::find_if(std::begin(allowed), std::end(allowed),
                     [&](const char* s) { return scheme == s; }) == std::end(allowed)) {
        reason = "the scheme \"" + scheme + ":\" is not a stream address (kept are " + keptSchemes + ")";
        return false;
    }
    if (text.compare(schemeEnd, 3, "://") != 0) {
        reason = "not an address (\"" + scheme + ":\" without \"//\" and a host)";
        return false;
    }
    if (text.size() > maxAddressLength) {
        reason = "the address is longer than " + std::to_string(maxAddressLength) + " bytes";
        return false;
    }
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) {
            reason = "the address holds control characters";
            return false;
        }
    static const char hex[] = "0123456789ABCDEF";
    address = scheme;
    for (size_t i = schemeEnd; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c >= 0x80) {
            address.push_back('%');
            address.push_back(hex[c >> 4]);
            address.push_back(hex[c & 15]);
        } else {
            address.push_back(static_cast<char>(c));
        }
    }
    if (address.size() > maxAddressLength) {
        reason = "the address is longer than " + std::to_string(maxAddressLength) +
                 " bytes once its spaces are encoded";
        return false;
    }
    if (!isSafeMediaAddress(address)) {
        reason = "the address names no host";
        return false;
    }
    return true;
}

void report(const PlaylistSinks& sinks, size_t line, bool skipped, const std::string& reason) {
    if (!sinks.problem) return;
    PlaylistProblem problem;
    problem.line = line;
    problem.entrySkipped = skipped;
    problem.reason = reason;
    sinks.problem(problem);
}

// Name, group and the like as one clean line of UTF-8.
std::string cleanText(const std::string& raw, size_t limit, bool& repaired) {
    bool wasRepaired = false;
    std::string text = oneLineText(textAsUtf8(trimmed(raw), wasRepaired), limit);
    repaired = repaired || wasRepaired;
    return text;
}

void clearInfo(PlaylistReader& reader) {
    reader.haveInfo = false;
    reader.infoName.clear();
    reader.infoTvgName.clear();
    reader.infoLogo.clear();
    reader.infoGroup.clear();
    reader.infoTvgId.clear();
    reader.infoTvgShift.clear();
}

void reportInfoWithoutAddress(PlaylistReader& reader, const PlaylistSinks& sinks) {
    if (!reader.haveInfo) return;
    const std::string& name = reader.infoName.empty() ? reader.infoTvgName : reader.infoName;
    report(sinks, reader.infoLine, true,
           "#EXTINF" + (name.empty() ? std::string() : " for \"" + name + "\"") +
               " has no address line after it");
    clearInfo(reader);
}

void readInfo(PlaylistReader& reader, const std::string& text, const PlaylistSinks& sinks) {
    reportInfoWithoutAddress(reader, sinks);
    const InfoLine info = parseInfoLine(text);
    bool repaired = false;
    reader.haveInfo = true;
    reader.infoLine = reader.lineNumber;
    reader.infoName = cleanText(info.name, maxChannelName, repaired);
    reader.infoTvgName = cleanText(info.tvgName, maxChannelName, repaired);
    reader.infoGroup = cleanText(info.group, maxChannelName, repaired);
    // A logo is an address or a path: kept as given, for the card maker to judge.
    reader.infoLogo = trimmed(info.logo);
    reader.infoTvgId = cleanText(info.tvgId, maxChannelName, repaired);
    reader.infoTvgShift = cleanText(info.tvgShift, 16, repaired);
    if (repaired)
        report(sinks, reader.lineNumber, false, "text that is not UTF-8 was repaired");
}

void readAddress(PlaylistReader& reader, const std::string& text, const PlaylistSinks& sinks) {
    PlaylistEntry entry;
    std::string reason;
    const bool kept = keepAddress(text, entry.address, reason);
    if (!kept) {
        std::string what = "skipped " + excerpt(text);
        const std::string& name = reader.infoName.empty() ? reader.infoTvgName : reader.infoName;
        if (!name.empty()) what += " (" + name + ")";
        report(sinks, reader.lineNumber, true, what + ": " + reason);
    } else {
        entry.line = reader.lineNumber;
        entry.logo = reader.infoLogo;
        entry.tvgId = reader.infoTvgId;
        entry.tvgShift = reader.infoTvgShift;
        entry.group = reader.infoGroup.empty() ? reader.pendingGroup : reader.infoGroup;
        entry.name = !reader.infoName.empty() ? reader.infoName : reader.infoTvgName;
        if (entry.name.empty()) {
            bool repaired = false;
            entry.name = cleanText(addressHost(entry.address), maxChannelName, repaired);
        }
        if (entry.name.empty()) entry.name = entry.address.substr(0, maxChannelName);
        ++reader.entries;
        if (sinks.entry) sinks.entry(entry);
    }
    clearInfo(reader);
    reader.pendingGroup.clear();
}

// "#EXTM3U url-tvg="a,b" x-tvg-url="c"": every guide address, in order.
void readHeader(PlaylistReader& reader, const std::string& text, const PlaylistSinks& sinks) {
    if (!sinks.guide) return;
    const InfoLine header = parseInfoLine(text, std::strlen("#EXTM3U"));
    size_t start = 0;
    while (start <= header.guides.size()) {
        size_t end = header.guides.find(',', start);
        if (end == std::string::npos) end = header.guides.size();
        const std::string address = trimmed(header.guides.substr(start, end - start));
        start = end + 1;
        if (address.empty()) continue;
        if (reader.guides >= maxGuideAddresses) {
            report(sinks, reader.lineNumber, false,
                   "more than " + std::to_string(maxGuideAddresses) +
                       " guide addresses; the rest are passed over");
            break;
        }
        bool ignored = false;
        if (address.size() > maxAddressLength || !isValidUtf8(address) ||
            oneLineText(textAsUtf8(address, ignored), maxAddressLength) != address) {
            report(sinks, reader.lineNumber, false, "a guide address that cannot be used is passed over");
            continue;
        }
        ++reader.guides;
        sinks.guide(address);
    }
}

void readLine(PlaylistReader& reader, const PlaylistSinks& sinks) {
    std::string& line = reader.line;
    if (reader.droppedBytes > 0)
        report(sinks, reader.lineNumber, false,
               "the line is " + std::to_string(line.size() + reader.droppedBytes) +
                   " bytes long; only its first " + std::to_string(maxPlaylistLine) +
                   " bytes are read");
    if (line.find('\0') != std::string::npos) {
        line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
        report(sinks, reader.lineNumber, false, "NUL bytes in the line were left out");
    }
    // A byte order mark starts the file, and again where playlists were joined.
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    const std::string text = trimmed(line);
    if (text.empty()) return;
    if (text[0] == '#') {
        if (startsWithNoCase(text, "#EXTINF")) {
            readInfo(reader, text, sinks);
        } else if (startsWithNoCase(text, "#EXTM3U")) {
            readHeader(reader, text, sinks);
        } else if (startsWithNoCase(text, "#EXTGRP:")) {
            bool repaired = false;
            reader.pendingGroup = cleanText(text.substr(8), maxChannelName, repaired);
            if (repaired)
                report(sinks, reader.lineNumber, false, "text that is not UTF-8 was repaired");
        }
        // #EXTM3U, #EXTVLCOPT, #KODIPROP and every other comment: nothing to read.
        return;
    }
    readAddress(reader, text, sinks);
}

void endLine(PlaylistReader& reader, const PlaylistSinks& sinks) {
    readLine(reader, sinks);
    reader.line.clear();
    reader.droppedBytes = 0;
    ++reader.lineNumber;
}

}  // namespace

void readPlaylistChunk(PlaylistReader& reader, const char* data, size_t size,
                       const PlaylistSinks& sinks) {
    const char* const end = data + size;
    const char* p = data;
    while (p < end) {
        if (reader.afterCarriageReturn) {
            reader.afterCarriageReturn = false;
            if (*p == '\n') {  // the second half of CR LF
                ++p;
                continue;
            }
        }
        // The line ends at the first LF or CR.
        const char* stop = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!stop) stop = end;
        if (const void* cr = std::memchr(p, '\r', static_cast<size_t>(stop - p)))
            stop = static_cast<const char*>(cr);
        const size_t room = maxPlaylistLine - reader.line.size();
        const size_t length = static_cast<size_t>(stop - p);
        reader.line.append(p, std::min(room, length));
        if (length > room) reader.droppedBytes += length - room;
        if (stop == end) break;
        reader.afterCarriageReturn = *stop == '\r';
        p = stop + 1;
        endLine(reader, sinks);
    }
}

void finishPlaylist(PlaylistReader& reader, const PlaylistSinks& sinks) {
    if (!reader.line.empty() || reader.droppedBytes > 0) endLine(reader, sinks);
    reportInfoWithoutAddress(reader, sinks);
}

void readPlaylist(const std::string& bytes, const PlaylistSinks& sinks) {
    PlaylistReader reader;
    readPlaylistChunk(reader, bytes.data(), bytes.size(), sinks);
    finishPlaylist(reader, sinks);
}

bool isValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8SequenceAt(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string repairUtf8(const std::string& text, bool& repaired) {
    repaired = false;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t prefix;
        const size_t length = utf8Sequence(text, i, prefix);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        // One replacement for the longest start of a sequence that could
        // have been well-formed, as the Unicode standard recommends.
        repaired = true;
        out += replacementCharacter;
        i += prefix;
    }
    return out;
}

std::string addressHost(const std::string& address) {
    const size_t schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos) return std::string();
    size_t start = schemeEnd + 3;
    size_t end = address.find_first_of("/?#", start);
    if (end == std::string::npos) end = address.size();
    const size_t at = address.rfind('@', end);
    if (at != std::string::npos && at >= start) start = at + 1;
    if (start < end && address[start] == '[') {
        const size_t close = address.find(']', start);
        if (close != std::string::npos && close < end) return address.substr(start + 1, close - start - 1);
    }
    const size_t colon = address.find(':', start);
    if (colon != std::string::npos && colon < end) end = colon;
    return address.substr(start, end - start);
}
