// The operating-system layer on Windows.
#ifdef _WIN32

#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

void getDesktopSize(int& width, int& height) {
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    width = desktop.right;
    height = desktop.bottom;
}

void openAddress(const std::string& address) {
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOW);
}

bool copyFileOver(const std::string& source, const std::string& target) {
    return CopyFileA(source.c_str(), target.c_str(), FALSE) != 0;
}

bool replaceFileContents(const std::string& target, const std::string& bytes) {
    std::string temporary = target + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written || !MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

void endProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

#endif  // _WIN32
