// The URL directory: the table of addresses keyed by link number, read once
// from VESTRALUME/links.tsv. It is the only source of the addresses that
// opening a channel hands on, so every line is checked as it is read: web
// pages must be plain https:// addresses, media addresses (entries added by
// importing a playlist) one of the stream schemes.
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>

#include "dataroot/data_root.h"
#include "dataroot/safe_file.h"
#include "launch/launch.h"
#include "platform/report.h"

const std::string productWebPage = "https://quillon.example/";

namespace {

std::unordered_map<int, DirectoryEntry> entries;
bool directoryLoaded = false;

// A damaged or hostile directory can hold millions of bad lines: the first
// few are reported one by one, the rest only counted.
constexpr long reportedSkips = 50;

void reportSkippedLine(const std::string& path, long lineNumber, const char* reason, long& skipped) {
    if (++skipped <= reportedSkips)
        reportFormatted(ReportLevel::note, "Diretório de URLs %s: linha %ld ignorada (%s)", path.c_str(),
                        lineNumber, reason);
}

}  // namespace

void loadUrlDirectory(const std::string& path) {
    entries.clear();
    directoryLoaded = true;
    std::string text;
    const FileOutcome outcome = readLimitedFile(path, tableFileLimit, text);
    if (outcome != fileRead) {
        if (outcome != fileMissing)
            report(ReportLevel::problem, "Quillon: " + path + " " + describeFileOutcome(outcome, tableFileLimit));
        report(ReportLevel::note, "Impossível abrir o diretório de URLs: " + path);
        return;
    }
    std::istringstream in(std::move(text));
    std::string line;
    long lineNumber = 0;
    long skipped = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        DirectoryEntry entry;
        switch (parseDirectoryLine(line, entry)) {
        case directoryComment: continue;
        case directoryMalformed:
            reportSkippedLine(path, lineNumber, "esperado: número de link, tab, endereço", skipped);
            continue;
        case directoryUnsafeAddress:
            reportSkippedLine(path, lineNumber, "endereço que não é https:// simples nem de mídia",
                              skipped);
            continue;
        case directoryEntry: break;
        }
        if (!entries.emplace(entry.link, entry).second)
            reportSkippedLine(path, lineNumber, "número de link repetido", skipped);
    }
    if (skipped > reportedSkips)
        reportFormatted(ReportLevel::note, "Diretório de URLs %s: mais %ld linhas ignoradas", path.c_str(),
                        skipped - reportedSkips);
}

std::optional<DirectoryEntry> findDirectoryEntry(int linkNumber) {
    if (!directoryLoaded) loadUrlDirectory();
    auto found = entries.find(linkNumber);
    if (found == entries.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> findUrl(int linkNumber) {
    std::optional<DirectoryEntry> entry = findDirectoryEntry(linkNumber);
    if (!entry) return std::nullopt;
    return entry->address;
}
