#include "dataroot/sources_file.h"

#include <filesystem>

#include "dataroot/data_root.h"
#include "dataroot/safe_file.h"

// Made from the constant folder name, not from another file's string, so
// it does not depend on the order files are initialised in.
const std::string sourcesFile = std::string(rootFolderName) + "/sources.tsv";

namespace {

const std::string heading = "quillon-sources 1";

// The largest sources file read: a few hundred sources fit many times over.
constexpr size_t sourcesFileLimit = 1 << 20;

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool parseSeconds(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

bool hasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 32 || c == 127) return true;
    return false;
}

}  // namespace

std::string sourceField(const std::string& text) {
    std::string clean;
    for (unsigned char c : text)
        if (c >= 32 && c != 127 && clean.size() < 1024) clean += static_cast<char>(c);
    return clean;
}

std::string formatSources(const RememberedSources& sources) {
    std::string text = heading + "\n";
    text += "imported\t" + std::to_string(sources.importedAt) + "\n";
    text += "every\t" + std::to_string(sources.refreshSeconds) + "\n";
    if (sources.keepDuplicates) text += "keep-duplicates\n";
    for (const std::string& group : sources.groups) text += "group\t" + sourceField(group) + "\n";
    for (const RememberedSource& source : sources.sources)
        text += "source\t" + sourceField(source.where) + "\t" + sourceField(source.validator) + "\t" +
                sourceField(source.secondValidator) + "\n";
    return text;
}

bool parseSources(const std::string& text, RememberedSources& sources, std::string& problem) {
    sources = RememberedSources();
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (number == 1) {
            if (line != heading) {
                problem = "it does not start with \"" + heading + "\"";
                return false;
            }
            continue;
        }
        const std::vector<std::string> fields = splitTabs(line);
        for (const std::string& field : fields)
            if (hasControl(field)) {
                problem = where + "a control character";
                return false;
            }
        const std::string& key = fields[0];
        if (key == "imported" && fields.size() == 2 && parseSeconds(fields[1], sources.importedAt)) continue;
        if (key == "every" && fields.size() == 2 && parseSeconds(fields[1], sources.refreshSeconds) &&
            sources.refreshSeconds > 0)
            continue;
        if (key == "keep-duplicates" && fields.size() == 1) {
            sources.keepDuplicates = true;
            continue;
        }
        if (key == "group" && fields.size() == 2) {
            sources.groups.push_back(fields[1]);
            continue;
        }
        if (key == "source" && fields.size() == 4 && !fields[1].empty()) {
            sources.sources.push_back({fields[1], fields[2], fields[3]});
            continue;
        }
        problem = where + "\"" + line.substr(0, 40) + "\" is not a line of a sources file";
        return false;
    }
    if (number == 0) {
        problem = "it is empty";
        return false;
    }
    if (sources.sources.empty()) {
        problem = "it names no playlist";
        return false;
    }
    return true;
}

bool readSources(const std::string& folder, RememberedSources& sources, bool& missing,
                 std::string& problem) {
    const std::string path = (std::filesystem::path(folder.empty() ? "." : folder) / sourcesFile).string();
    std::string text;
    const FileOutcome outcome = readLimitedFile(path, sourcesFileLimit, text);
    missing = outcome == fileMissing;
    if (outcome != fileRead) {
        problem = path + " " + describeFileOutcome(outcome, sourcesFileLimit);
        return false;
    }
    if (!parseSources(text, sources, problem)) {
        problem = path + ": " + problem;
        return false;
    }
    return true;
}

bool refreshDue(const RememberedSources& sources, long long now) {
    return now < sources.importedAt || now - sources.importedAt >= sources.refreshSeconds;
}
