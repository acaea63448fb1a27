#include "platform/report.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

ReportSink currentSink = printReport;

}  // namespace

void printReport(ReportLevel level, const std::string& text) {
    std::FILE* stream = level == ReportLevel::note ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

ReportSink setReportSink(ReportSink sink) {
    const ReportSink previous = currentSink;
    currentSink = sink ? sink : printReport;
    return previous;
}

void report(ReportLevel level, const std::string& text) { currentSink(level, text); }

void reportFormatted(ReportLevel level, const char* format, ...) {
    char small[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        report(level, std::string(small, static_cast<size_t>(length)));
        return;
    }
    // Paths and names of any length are reported whole.
    std::vector<char> large(static_cast<size_t>(length) + 1);
    va_start(arguments, format);
    std::vsnprintf(large.data(), large.size(), format, arguments);
    va_end(arguments);
    report(level, std::string(large.data(), static_cast<size_t>(length)));
}
