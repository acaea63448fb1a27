// Test helpers: a scratch working directory with a data root, and small file
// utilities.
#pragma once

#include <string>

// Creates a fresh temporary folder, makes it the working directory with the
// folders of a data root (VESTRALUME/n, i, t, 1, 2) and the template files
// n/1.txt to n/20.txt, and goes back to the previous working directory (and
// removes the folder) when it goes out of scope.
class ScratchRoot {
public:
    ScratchRoot();
    ~ScratchRoot();
    ScratchRoot(const ScratchRoot&) = delete;
    ScratchRoot& operator=(const ScratchRoot&) = delete;
    const std::string& folder() const { return folder_; }

private:
    std::string previous_;
    std::string folder_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);  // empty when missing
bool fileExists(const std::string& path);

// Runs `action` in a child process that cannot write where the file modes
// forbid it (as root, the child drops to the user "nobody"), and returns the
// child's exit status (the action's result), or -1 when it could not run.
// The scratch folder is opened to all users first so the child can reach it.
#include <functional>
int runWithoutPrivileges(const ScratchRoot& root, const std::function<int()>& action);

// Runs `action` in a child process and waits at most `seconds` for it: the
// child's exit status (the action's result), or -1 when it did not end in
// time or grew past 1 GiB of memory (it is then killed) or did not end
// normally. For code that must not
// hang: a test of it fails instead of hanging too. The child must not use
// OpenGL (it shares the parent's display connection).
int runWithin(double seconds, const std::function<int()>& action);
