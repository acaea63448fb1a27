// Helpers of the benchmark program: clocks and medians, the window that
// gives the program its OpenGL context, plain libjpeg decoding as the
// yardstick, the process's memory figures and the results file through which
// each measured section reports to the table.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

// Milliseconds since `start`.
double millisecondsSince(BenchClock::time_point start);

double median(std::vector<double> values);

// Opens a double-buffered window the size of the desktop, as the program
// does, makes its context current, initialises the GUI layer, waits until
// the window is shown and sets the projection for its size.
void openBenchWindow();

// Decodes one JPEG file with nothing but libjpeg: jpeg_stdio_src and
// jpeg_read_scanlines into a malloc'd buffer, released again. The number of
// bytes decoded (0 when the file cannot be opened).
size_t decodePlain(const std::string& path);

// Peak and current resident memory of this process, in KiB (VmHWM, VmRSS).
long peakResidentKiB();
long residentKiB();

// Runs `program` with `arguments`, standard output and error going to
// `logPath` (appended). The exit status, or -1 when it could not be started.
int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logPath);

// The figures a section measured, one "name value" line each.
void writeResults(const std::string& path, const std::map<std::string, double>& results);
std::map<std::string, double> readResults(const std::string& path);
