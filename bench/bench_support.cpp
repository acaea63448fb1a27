#include "bench/bench_support.h"

#include <GL/freeglut.h>
#include <plib/pu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <jpeglib.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/shell.h"
#include "platform/platform.h"

extern char** environ;

double millisecondsSince(BenchClock::time_point start) {
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {
bool windowShown = false;
void drawNothing() {}
void noteShown(int width, int height) {
    onReshape(width, height);
    windowShown = true;
}
}  // namespace

void openBenchWindow() {
    int argc = 1;
    char name[] = "quillon-bench";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    int width = 1920;
    int height = 1080;
    getDesktopSize(width, height);
    glutInitWindowSize(width, height);
    glutCreateWindow("Quillon");
    // Frames are drawn by the benchmark itself, never by the event loop.
    glutDisplayFunc(drawNothing);
    glutReshapeFunc(noteShown);
    puInit();
    for (int pass = 0; pass < 2000 && !windowShown; ++pass) glutMainLoopEvent();
    onReshape(width, height);
}

size_t decodePlain(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const size_t stride = static_cast<size_t>(info.output_width) * info.output_components;
    const size_t size = stride * info.output_height;
    auto* pixels = static_cast<unsigned char*>(std::malloc(size));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    std::free(pixels);
    return size;
}

namespace {
long statusFieldKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    return -1;
}
}  // namespace

long peakResidentKiB() { return statusFieldKiB("VmHWM"); }
long residentKiB() { return statusFieldKiB("VmRSS"); }

int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logPath) {
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = 0;
    const int started = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void writeResults(const std::string& path, const std::map<std::string, double>& results) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return;
    for (const auto& [name, value] : results) std::fprintf(file, "%s %.9g\n", name.c_str(), value);
    std::fclose(file);
}

std::map<std::string, double> readResults(const std::string& path) {
    std::map<std::string, double> results;
    std::ifstream in(path);
    std::string name;
    double value;
    while (in >> name >> value) results[name] = value;
    return results;
}
