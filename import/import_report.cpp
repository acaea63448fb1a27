#include "import/import_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void logProblem(ProblemLog& log, const PlaylistProblem& problem) {
    if (problem.entrySkipped) {
        if (log.skippedShown.size() < log.kept) log.skippedShown.push_back(problem);
        ++log.skipped;
    } else {
        if (log.notesShown.size() < log.kept) log.notesShown.push_back(problem);
        ++log.notes;
    }
}

std::string formatCount(size_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

namespace {

std::string clock(double seconds) {
    const long total = std::lround(seconds);
    const long hours = total / 3600, minutes = total / 60 % 60, rest = total % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, rest);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", minutes, rest);
    return text;
}

std::string plural(size_t count, const char* one, const char* many) {
    return formatCount(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string progressLine(const ImportProgress& progress, double seconds, int width) {
    std::string line;
    if (progress.stage == ImportProgress::reading) {
        line = "Reading the playlist: " + plural(progress.entriesRead, "entry", "entries");
        if (seconds > 0.5)
            line += " (" + formatCount(static_cast<size_t>(progress.entriesRead / seconds)) + "/s)";
    } else if (progress.stage == ImportProgress::switching) {
        line = "Switching the new catalogue in (" + plural(progress.entriesRead, "channel", "channels") + ")";
    } else {
        // What matters most first, so a narrow terminal cuts the details.
        const CardProgress& cards = progress.cards;
        const double rate = seconds > 0.2 ? cards.done / seconds : 0;
        std::string counts = " " + formatCount(cards.done) + "/" + formatCount(cards.total) + " cards";
        if (rate > 0) {
            counts += " " + formatCount(static_cast<size_t>(rate)) + "/s";
            if (cards.total > cards.done) counts += " " + clock((cards.total - cards.done) / rate) + " left";
        }
        counts += " | logos " + formatCount(cards.fetched) + " fetched, " + formatCount(cards.cached) +
                  " cached, " + formatCount(cards.failed) + " failed | " + formatCount(cards.made) +
                  " made | " + plural(progress.entriesRead, "entry", "entries") + " read";
        const int barWidth = 20;
        const int filled = cards.total ? static_cast<int>(barWidth * cards.done / cards.total) : 0;
        line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]" + counts;
    }
    if (width > 0 && line.size() > static_cast<size_t>(width)) line.resize(width);
    return line;
}

std::vector<std::string> problemReport(const ProblemLog& log) {
    std::vector<std::string> lines;
    if (log.skipped > 0) {
        lines.push_back("Skipped " + plural(log.skipped, "entry", "entries") + ":");
        for (const PlaylistProblem& problem : log.skippedShown)
            lines.push_back("  line " + std::to_string(problem.line) + ": " + problem.reason);
        if (log.skipped > log.skippedShown.size())
            lines.push_back("  ... and " + formatCount(log.skipped - log.skippedShown.size()) +
                            " more skipped entries");
    }
    if (log.notes > 0) {
        lines.push_back("Repaired while reading:");
        for (const PlaylistProblem& problem : log.notesShown)
            lines.push_back("  line " + std::to_string(problem.line) + ": " + problem.reason);
        if (log.notes > log.notesShown.size())
            lines.push_back("  ... and " + formatCount(log.notes - log.notesShown.size()) + " more");
    }
    return lines;
}

std::vector<std::string> importSummary(const ImportResult& result, const std::string& source,
                                       const std::string& root) {
    std::vector<std::string> lines;
    if (result.unchanged && result.pendingCards > 0) {
        lines.push_back("The catalogue in " + root + " already holds these " +
                        plural(result.channels, "channel", "channels") + "; " +
                        plural(result.pendingCards, "card is", "cards are") +
                        " still to be made or checked against its logo.");
        return lines;
    }
    if (result.unchanged) {
        lines.push_back("The catalogue in " + root + " already holds exactly this playlist (" +
                        plural(result.channels, "channel", "channels") + "); nothing was changed.");
        return lines;
    }
    lines.push_back("Imported " + plural(result.channels, "channel", "channels") + " from " + source +
                    " into " + root + ".");
    std::string links = "Link numbers: " + formatCount(result.newLinks) + " new";
    if (result.newLinks > 0)
        links += " (" + std::to_string(result.firstNewLink) +
                 (result.lastNewLink != result.firstNewLink ? " to " + std::to_string(result.lastNewLink) : "") + ")";
    links += ", " + plural(result.knownLinks, "address", "addresses") + " kept the number they had.";
    lines.push_back(links);
    const CardProgress& cards = result.cards;
    if (cards.damaged > 0)
        lines.push_back("Card cache: " + plural(cards.damaged, "damaged entry", "damaged entries") +
                        " (a link, not a regular file, or not the card its digest names) made again.");
    if (result.pendingCards > 0) {
        // The catalogue went in before its cards: say what the wall shows now.
        const size_t standIns = cards.made > cards.done ? cards.made - cards.done : 0;
        lines.push_back("Cards: " + formatCount(cards.made) + " of the page on the wall made now" +
                        (standIns > 0 ? " (" + formatCount(standIns) +
                                            " with the channel's name until its logo arrives)"
                                      : std::string()) +
                        "; " + formatCount(result.pendingCards) + " still to be made.");
        return lines;
    }
    lines.push_back("Logos: " + formatCount(cards.fetched) + " fetched, " + formatCount(cards.cached) +
                    " from the cache, " + formatCount(cards.failed) + " failed (name cards instead); " +
                    plural(cards.made, "card", "cards") + " made, " +
                    formatCount(cards.total - std::min(cards.total, cards.made)) + " unchanged.");
    return lines;
}
