// The one channel the viewer's libraries report through. Loaders and the
// scene say what happened here and return a value or a reason; where the
// lines go is the host's choice, and only the program's entry point decides
// to end the process.
#pragma once

#include <string>

enum class ReportLevel {
    note,     // the loaders' log: standard output by default
    problem,  // something the user should know about: standard error by default
};

// Receives one line of text, without its line break.
using ReportSink = void (*)(ReportLevel level, const std::string& text);

// Hands one line to the sink the host chose (printReport unless set).
void report(ReportLevel level, const std::string& text);

// The same with the text made by printf formatting.
void reportFormatted(ReportLevel level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Sets where reports go; nullptr goes back to printReport. Meant to be set
// once by the program, before the first report, or around a piece of work
// whose reports a tool words its own way. Yields the sink set before.
ReportSink setReportSink(ReportSink sink);

// The default sink: notes to standard output, problems to standard error,
// each ended by a line break. Standard output is flushed after every note,
// so the log is complete whenever the process ends.
void printReport(ReportLevel level, const std::string& text);
