#include "import/import_links.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "dataroot/safe_file.h"
#include "dataroot/url_directory_file.h"

namespace {

// The link number at the start of a directory line, whatever the rest holds:
// a number any line claims is never given again.
int leadingLinkNumber(const std::string& line) {
    int number = 0;
    size_t digits = 0;
    while (digits < line.size() && digits < 9 && line[digits] >= '0' && line[digits] <= '9')
        number = number * 10 + (line[digits++] - '0');
    return digits > 0 && digits <= 8 ? number : 0;
}

// An address without its query and fragment: what stays when a provider's
// token changes.
std::string withoutQuery(const std::string& address) { return address.substr(0, address.find_first_of("?#")); }

std::string stemKey(const std::string& address, const std::string& name) {
    return withoutQuery(address) + '\n' + name;
}

struct Line {
    std::string text;
    DirectoryEntry entry;
    bool media = false;  // a media entry, in `entry`
};

}  // namespace

LinkUse parseLinkFile(const std::string& text) {
    LinkUse use;
    const size_t end = text.find('\n');
    const std::string first = text.substr(0, end);
    if (first.empty() || first.size() > 8 ||
        !std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return use;
    use.link = std::stoi(first);
    if (end != std::string::npos) {
        const size_t nameEnd = text.find('\n', end + 1);
        use.name = text.substr(end + 1, nameEnd == std::string::npos ? std::string::npos : nameEnd - end - 1);
        if (!use.name.empty() && use.name.back() == '\r') use.name.pop_back();
    }
    return use;
}

LinkPlan planLinks(const std::string& directory, const std::vector<PlaylistEntry>& entries,
                   const std::vector<LinkUse>& inUse, int lowestNewLink) {
    LinkPlan plan;
    std::vector<Line> lines;
    std::unordered_map<std::string, int> byAddress;  // media address -> link
    std::unordered_map<int, size_t> byLink;          // media link -> its line
    int highest = lowestNewLink - 1;
    size_t start = 0;
    while (start < directory.size()) {
        size_t end = directory.find('\n', start);
        if (end == std::string::npos) end = directory.size();
        Line line;
        line.text = directory.substr(start, end - start);
        start = end + 1;
        highest = std::max(highest, leadingLinkNumber(line.text));
        line.media = parseDirectoryLine(line.text, line.entry) == directoryEntry &&
                     line.entry.kind == mediaAddress && byLink.count(line.entry.link) == 0;
        if (line.media) {
            byAddress.emplace(line.entry.address, line.entry.link);
            byLink.emplace(line.entry.link, lines.size());
        }
        lines.push_back(std::move(line));
    }
    const int highestHeld = highest;

    // The entries in use by the name they carry, for addresses whose token
    // changed.
    std::unordered_map<std::string, int> byStem;
    std::unordered_set<int> referenced;
    for (const LinkUse& use : inUse) {
        referenced.insert(use.link);
        const auto line = byLink.find(use.link);
        if (line != byLink.end()) byStem.emplace(stemKey(lines[line->second].entry.address, use.name), use.link);
    }

    plan.links.assign(entries.size(), 0);
    std::unordered_set<int> claimed;
    std::unordered_map<std::string, int> given;  // address -> link, for this import
    // Addresses the directory holds keep their numbers.
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto known = byAddress.find(entries[i].address);
        if (known == byAddress.end()) continue;
        plan.links[i] = known->second;
        claimed.insert(known->second);
        if (given.emplace(entries[i].address, known->second).second) ++plan.knownLinks;
    }
    // A changed token keeps the number of the entry in use with that name.
    std::unordered_map<int, std::string> moved;  // link -> its new address
    for (size_t i = 0; i < entries.size(); ++i) {
        if (plan.links[i] != 0) continue;
        const auto same = given.find(entries[i].address);
        if (same != given.end()) {
            plan.links[i] = same->second;
            continue;
        }
        const auto stem = byStem.find(stemKey(entries[i].address, entries[i].name));
        if (stem == byStem.end() || !claimed.insert(stem->second).second) continue;
        plan.links[i] = stem->second;
        moved[stem->second] = entries[i].address;
        given.emplace(entries[i].address, stem->second);
        ++plan.knownLinks;
    }
    // Anything else takes the next number.
    std::string added;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (plan.links[i] != 0) continue;
        const auto same = given.find(entries[i].address);
        if (same != given.end()) {
            plan.links[i] = same->second;
            continue;
        }
        if (highest >= maxDirectoryLink) {
            plan.error = "the URL directory has used up its link numbers (up to " +
                         std::to_string(maxDirectoryLink) + ")";
            return plan;
        }
        DirectoryEntry entry;
        entry.link = ++highest;
        entry.address = entries[i].address;
        entry.kind = mediaAddress;
        added += formatDirectoryLine(entry) + "\n";
        given.emplace(entry.address, entry.link);
        plan.links[i] = entry.link;
        if (plan.newLinks++ == 0) plan.firstNewLink = entry.link;
        plan.lastNewLink = entry.link;
    }
    for (int link : plan.links) referenced.insert(link);

    // The new text: what is not a media entry as it was, the media entries
    // still named (with a moved address), the highest number held, then the
    // new entries.
    for (const Line& line : lines) {
        if (!line.media) {
            plan.directory += line.text + "\n";
            continue;
        }
        const bool highestLine = line.entry.link == highestHeld;
        if (!referenced.count(line.entry.link) && !highestLine) continue;
        const auto move = moved.find(line.entry.link);
        if (move == moved.end()) {
            plan.directory += line.text + "\n";
        } else {
            DirectoryEntry entry = line.entry;
            entry.address = move->second;
            plan.directory += formatDirectoryLine(entry) + "\n";
        }
    }
    plan.directory += added;
    // Without a line end the text may end as it came.
    if (!directory.empty() && directory.back() != '\n' && plan.directory.size() == directory.size() + 1 &&
        plan.directory.compare(0, directory.size(), directory) == 0)
        plan.directory.pop_back();
    plan.changed = plan.directory != directory;
    if (plan.directory.size() > tableFileLimit) {
        plan.error = "the URL directory would grow to " + std::to_string(plan.directory.size() >> 20) +
                     " MiB, more than the " + std::to_string(tableFileLimit >> 20) +
                     " MiB Quillon reads; import fewer channels";
    }
    return plan;
}
