// The URL directory: the table of addresses keyed by link number, read once
// from VESTRALUME/links.tsv. It is the only source of the addresses that
// opening a channel hands on, so every line is checked as it is read: web
// pages must be plain https:// addresses, media addresses (entries added by
// importing a playlist) one of the stream schemes.
#include <cstdio>
#include <fstream>
#include <string>
#include <unordered_map>

#include "catalogue/data_root.h"
#include "launch/launch.h"

const std::string productWebPage = "https://quillon.example/";

namespace {

std::unordered_map<int, DirectoryEntry> entries;
bool directoryLoaded = false;

void reportSkippedLine(const std::string& path, long lineNumber, const char* reason) {
    std::printf("Diretório de URLs %s: linha %ld ignorada (%s)\n", path.c_str(), lineNumber, reason);
}

}  // namespace

void loadUrlDirectory(const std::string& path) {
    entries.clear();
    directoryLoaded = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("Impossível abrir o diretório de URLs: %s\n", path.c_str());
        std::fflush(stdout);
        return;
    }
    std::string line;
    long lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        DirectoryEntry entry;
        switch (parseDirectoryLine(line, entry)) {
        case directoryComment: continue;
        case directoryMalformed:
            reportSkippedLine(path, lineNumber, "esperado: número de link, tab, endereço");
            continue;
        case directoryUnsafeAddress:
            reportSkippedLine(path, lineNumber, "endereço que não é https:// simples nem de mídia");
            continue;
        case directoryEntry: break;
        }
        if (!entries.emplace(entry.link, entry).second)
            reportSkippedLine(path, lineNumber, "número de link repetido");
    }
    std::fflush(stdout);
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
