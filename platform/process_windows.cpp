// Starting programs on Windows: the desktop's handler (ShellExecute "open")
// opens every address, web pages and media alike, so no program is started
// directly.
#ifdef _WIN32

#include "platform/process.h"

const bool desktopOpensEveryAddress = true;

// Programs are not started directly here: the desktop's handler opens every
// address.
std::optional<std::string> findProgramOnPath(const std::string&) { return std::nullopt; }

StartedProgram startProgram(const std::vector<std::string>&) { return {}; }

void endProgram(StartedProgram& program, int) { releaseProgram(program); }

void releaseProgram(StartedProgram& program) { program.handle = -1; }

// Nothing is started beside the program on Windows (it has no importer).
std::string runningProgramPath() { return std::string(); }

void lowerThreadPriority() {}

#endif
