// Starting a program with an argument vector, and ending it again later.
// Which program to start and with which arguments is the caller's choice;
// this is only the mechanism.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A program started by startProgram.
struct StartedProgram {
    // Whether the program was started at all.
    bool started = false;
    // What holds on to the process while it runs, or -1 when nothing does.
    // On Linux a process file descriptor: it names that one process and no
    // other, so a process that later gets the same process id is never taken
    // for it. Only endProgram and releaseProgram use it.
    int handle = -1;
    // For a program started by startFedProgram: the writing end of the
    // connection that is its standard input, or -1.
    int input = -1;
};

// Whether the desktop's handler (openAddress) may be given any address,
// whatever its scheme. Where it only knows how to open web pages, media
// addresses need a media player instead.
extern const bool desktopOpensEveryAddress;

// The full path of the first program called `name` in the folders of PATH:
// an executable regular file. Only absolute folders are searched (an empty
// or relative entry would make the working directory, the data root's
// parent, a place programs are taken from). None when there is no such
// program, or on a system where programs are not looked up this way.
std::optional<std::string> findProgramOnPath(const std::string& name);

// Starts arguments[0] (a path, or a name looked up in PATH) with
// `arguments` as its argument vector: no shell, not waited for, its
// standard input, output and error on the null device, in a session of its
// own with default signal handling. It is never left behind as a zombie when
// it ends. The result says whether it started and holds it when it can be
// held (it may end so quickly that there is nothing left to hold).
StartedProgram startProgram(const std::vector<std::string>& arguments);

// Like startProgram, but the program's standard input is a connection from
// this process (`input` of the result, written with sendToProgram), and its
// standard error goes to `errorFile` when one is named (appended to, made
// when missing). The program sees its input end when this process closes
// the connection (endProgram, releaseProgram) or ends, however it ends.
// Not started where the system has no such programs (Windows).
StartedProgram startFedProgram(const std::vector<std::string>& arguments, const std::string& errorFile = "");

// Writes `text` to the program's input without waiting: false when it could
// not all be written (the program ended, or its input is full).
bool sendToProgram(StartedProgram& program, const std::string& text);

// Whether the held program still runs (false for one not held).
bool programRunning(const StartedProgram& program);
// The longest endProgram waits for a program it killed to be gone.
constexpr int killWaitMilliseconds = 100;

// Asks the held program to end (SIGTERM) and waits up to `waitMilliseconds`
// for it to go; a program still running then is killed (SIGKILL) and waited
// for up to killWaitMilliseconds more. Then it lets go of it. Only that
// process is ever signalled; a program that has ended already is left
// alone, whatever process now has its id. Does nothing for a program that is
// not held. On Windows it only lets go.
void endProgram(StartedProgram& program, int waitMilliseconds);

// Lets go of the held program without touching it: it runs on.
void releaseProgram(StartedProgram& program);

// The folder holding this program's own executable file; empty where it
// cannot be told.
std::string ownProgramFolder();

// This process's id.
long ownProcessId();
// The full path of the running program's own file, to find the programs
// installed beside it; empty where it cannot be told.
std::string runningProgramPath();

// Lowers the priority of the calling thread, and of the threads it starts
// after, to the lowest but one (nice 10 on Linux): work that may wait
// whenever anything else wants the processor. Other threads keep theirs.
void lowerThreadPriority();
