// The operating-system layer: the only code that knows which system Quillon
// runs on. Everything else asks here for the desktop size, for opening a web
// address in the user's browser, for replacing a file in one step and for
// ending the process.
//
// This header is the contract; each system has its own source files that
// implement all of it (platform_posix.cpp and desktop_posix.cpp,
// platform_windows.cpp and desktop_windows.cpp), and the
// build compiles the files of the system it builds for: a file named
// *_posix.cpp only for POSIX systems, *_windows.cpp only for Windows, any
// other file in this folder for both. Which addresses or programs may be
// handed over is decided by the callers (launch/), not here.
#pragma once

#include <string>

// Width and height in pixels of the primary desktop.
void getDesktopSize(int& width, int& height);

// Hands a web address to the desktop's default handler without waiting for
// it. The address travels as one argument to the handler; no shell is
// involved. Failures (no handler installed) are ignored.
void openAddress(const std::string& address);

// Replaces `target` with a copy of `source` in one step: the bytes go to a
// temporary file in the target's folder, which is then renamed over the
// target. Both paths are resolved as dataroot/safe_file.h says (a data-root
// path never leads out of the root). A source that is missing, unreadable,
// not a regular file or larger than imageFileLimit, or a target that cannot
// be replaced, leaves the target exactly as it was and no temporary file
// behind. Returns whether the target now holds the source's bytes.
bool copyFileOver(const std::string& source, const std::string& target);

// Replaces `target` with `bytes` in one step, like copyFileOver. A reader
// never sees the target truncated or half-written. Returns whether it worked.
bool replaceFileContents(const std::string& target, const std::string& bytes);

// The folder holding this program's own executable file (no '/' at its
// end); empty when it cannot be told.
std::string programFolder();

// Ends the process with `status`; exit-time clean-up runs.
[[noreturn]] void endProcess(int status);
