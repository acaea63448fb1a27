// Playlists: any bytes give entries that the URL directory and the link
// files can hold (a safe media address, a one-line UTF-8 name) and
// line-numbered problems, and reading the bytes in pieces gives exactly what
// reading them at once gives.
#include <cstdint>
#include <string>
#include <vector>

#include "import/playlist.h"
#include "dataroot/url_directory_file.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Found {
    std::vector<PlaylistEntry> entries;
    std::vector<PlaylistProblem> problems;
};

PlaylistSinks sinksFor(Found& found) {
    PlaylistSinks sinks;
    sinks.entry = [&found](PlaylistEntry& entry) { found.entries.push_back(entry); };
    sinks.problem = [&found](const PlaylistProblem& problem) { found.problems.push_back(problem); };
    return sinks;
}

bool isOneLine(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

void checkText(const std::string& text, size_t limit) {
    FUZZ_REQUIRE(isValidUtf8(text));
    FUZZ_REQUIRE(isOneLine(text));
    FUZZ_REQUIRE(text.size() <= limit);
    FUZZ_REQUIRE(text.empty() || (text.front() != ' ' && text.back() != ' '));
}

bool sameEntries(const Found& a, const Found& b) {
    if (a.entries.size() != b.entries.size() || a.problems.size() != b.problems.size()) return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const PlaylistEntry &x = a.entries[i], &y = b.entries[i];
        if (x.name != y.name || x.address != y.address || x.logo != y.logo || x.group != y.group ||
            x.line != y.line)
            return false;
    }
    for (size_t i = 0; i < a.problems.size(); ++i) {
        const PlaylistProblem &x = a.problems[i], &y = b.problems[i];
        if (x.line != y.line || x.reason != y.reason || x.entrySkipped != y.entrySkipped) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Found whole;
    readPlaylist(bytes, sinksFor(whole));

    size_t lineEnds = 0;
    for (char c : bytes) lineEnds += c == '\n' || c == '\r';
    const size_t lines = lineEnds + 1;
    size_t previous = 0;
    for (const PlaylistEntry& entry : whole.entries) {
        FUZZ_REQUIRE(!entry.name.empty());
        checkText(entry.name, maxChannelName);
        checkText(entry.group, maxChannelName);
        FUZZ_REQUIRE(isSafeMediaAddress(entry.address));
        DirectoryEntry line;
        line.link = 1291;
        line.address = entry.address;
        line.kind = mediaAddress;
        DirectoryEntry back;
        FUZZ_REQUIRE(parseDirectoryLine(formatDirectoryLine(line), back) == directoryEntry);
        FUZZ_REQUIRE(back.address == entry.address && back.kind == mediaAddress);
        FUZZ_REQUIRE(entry.line >= 1 && entry.line <= lines && entry.line > previous);
        previous = entry.line;
    }
    for (const PlaylistProblem& problem : whole.problems) {
        FUZZ_REQUIRE(problem.line >= 1 && problem.line <= lines);
        FUZZ_REQUIRE(isValidUtf8(problem.reason) && isOneLine(problem.reason));
    }

    // The same bytes in three pieces, cut where the input's own bytes say.
    if (size >= 2) {
        const size_t first = data[0] % size, second = first + data[size - 1] % (size - first + 1);
        Found pieces;
        const PlaylistSinks sinks = sinksFor(pieces);
        PlaylistReader reader;
        readPlaylistChunk(reader, bytes.data(), first, sinks);
        readPlaylistChunk(reader, bytes.data() + first, second - first, sinks);
        readPlaylistChunk(reader, bytes.data() + second, size - second, sinks);
        finishPlaylist(reader, sinks);
        FUZZ_REQUIRE(sameEntries(whole, pieces));
    }
    return 0;
}
