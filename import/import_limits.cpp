#include "import/import_limits.h"

#include "dataroot/data_root.h"
#include "import/import.h"

void collectEntry(EntryCollector& collector, PlaylistEntry& entry) {
    if (collector.full) return;
    if (!entryInGroups(entry, collector.groups)) {
        ++collector.otherGroups;
        return;
    }
    const std::size_t text =
        entry.name.capacity() + entry.address.capacity() + entry.logo.capacity() + entry.group.capacity();
    // The records: the vector doubles when it is full, and the old one is
    // held until the new one is filled.
    const std::size_t size = collector.entries.size();
    const std::size_t capacity = collector.entries.capacity();
    const std::size_t records = (size < capacity ? capacity : capacity + (size > 0 ? 2 * size : 1)) *
                                sizeof(PlaylistEntry);
    if (size >= static_cast<std::size_t>(maxChannelCount) ||
        collector.textBytes + text + records > maxPlaylistEntryBytes) {
        collector.full = true;
        return;
    }
    collector.entries.push_back(std::move(entry));
    collector.textBytes += text;
    collector.bytes = collector.textBytes + collector.entries.capacity() * sizeof(PlaylistEntry);
}

std::string describeFullPlaylist(const EntryCollector& collector) {
    if (collector.entries.size() >= static_cast<std::size_t>(maxChannelCount))
        return "the playlist holds more than " + std::to_string(maxChannelCount) +
               " channels, the most a catalogue holds";
    return "the playlist's entries take more than " + std::to_string(maxPlaylistEntryBytes >> 20) +
           " MiB after " + std::to_string(collector.entries.size()) +
           " channels; that is no playlist Quillon can import";
}
