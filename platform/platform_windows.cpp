// The operating-system layer on Windows.
#ifdef _WIN32

#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// The temporary file that a replacement is built in: in the target's own
// folder (a move only replaces in one step within one volume), marked by a
// leading dot like on the other systems, and named after the process so
// that two processes never share one.
std::string temporaryNameFor(const std::string& target) {
    std::string::size_type slash = target.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + base + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
}

// A target that exists but may not be written (read-only, or a folder) is
// left alone, as a plain overwrite would leave it.
bool targetMayBeReplaced(const std::string& target) {
    DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool writeAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Creates the temporary file for `target`, lets `fill` write into it, and
// moves it over the target when everything was written. The move waits
// until it is on the disk, so after a crash the target holds either the old
// or the new bytes.
template <typename Fill>
bool replaceThroughTemporary(const std::string& target, Fill fill) {
    if (!targetMayBeReplaced(target)) return false;
    std::string temporary = temporaryNameFor(target);
    HANDLE out = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    bool written = fill(out);
    written = CloseHandle(out) && written;
    if (!written || !MoveFileExA(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

void openAddress(const std::string& address) {
    // The same addresses as on the other systems reach the handler.
    if (address.empty() || address[0] == '-') return;
    // The shell may hand the address to an extension that needs COM on the
    // calling thread; initialising it once more is harmless.
    static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)com;
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOW);
}

bool copyFileOver(const std::string& source, const std::string& target) {
    // A folder or a device cannot be opened as a plain file here.
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(in) != FILE_TYPE_DISK) {
        CloseHandle(in);
        return false;
    }
    bool copied = replaceThroughTemporary(target, [in](HANDLE out) {
        std::string buffer(65536, '\0');
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(in, &buffer[0], static_cast<DWORD>(buffer.size()), &n, nullptr))
                return false;
            if (n == 0) return true;
            if (!writeAll(out, buffer.data(), n)) return false;
        }
    });
    CloseHandle(in);
    return copied;
}

bool replaceFileContents(const std::string& target, const std::string& bytes) {
    return replaceThroughTemporary(
        target, [&bytes](HANDLE out) { return writeAll(out, bytes.data(), bytes.size()); });
}

void endProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

std::string programFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    const std::string program(path, length);
    const std::string::size_type slash = program.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

#endif  // _WIN32
