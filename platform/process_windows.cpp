// Starting programs on Windows: the desktop's handler (ShellExecute "open")
// opens every address, web pages and media alike, so no program is started
// directly.
#ifdef _WIN32

#include "platform/process.h"

#include <windows.h>

const bool desktopOpensEveryAddress = true;

// Programs are not started directly here: the desktop's handler opens every
// address.
std::optional<std::string> findProgramOnPath(const std::string&) { return std::nullopt; }

StartedProgram startProgram(const std::vector<std::string>&) { return {}; }

// The live pictures' companion is a Linux program: nothing is started.
StartedProgram startFedProgram(const std::vector<std::string>&, const std::string&) { return {}; }

bool sendToProgram(StartedProgram&, const std::string&) { return false; }

bool programRunning(const StartedProgram&) { return false; }

void endProgram(StartedProgram& program, int) { releaseProgram(program); }

void releaseProgram(StartedProgram& program) { program.handle = -1; }

// Programs beside this one are not started on Windows (the programme guide
// is read on Linux only).
std::string ownProgramFolder() { return std::string(); }

long ownProcessId() { return static_cast<long>(GetCurrentProcessId()); }
// Nothing is started beside the program on Windows (it has no importer).
std::string runningProgramPath() { return std::string(); }

void lowerThreadPriority() {}

#endif
