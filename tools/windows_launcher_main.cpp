// Starts the installed Quillon on the user's own data root (what the Start
// menu runs). The program reads and writes everything under VESTRALUME in
// its working directory; the installed root "template/VESTRALUME" in the
// install folder is a template that is never written. On the first start
// this launcher copies it to "%LOCALAPPDATA%/Quillon/VESTRALUME", then it
// starts "program/quillon.exe" of the install folder in
// "%LOCALAPPDATA%/Quillon", waits for it and ends with its exit status.
#ifdef _WIN32

#include <cstdio>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/user_root.h"

namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& utf8) {
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], size);
    return text;
}

// The program has no console, so a failure is shown in a message box (and
// written to the standard error, for whoever started it from a shell).
int fail(const std::string& message) {
    std::fprintf(stderr, "quillon: %s\n", message.c_str());
    MessageBoxW(nullptr, wide("Quillon cannot start: " + message).c_str(), L"Quillon",
                MB_OK | MB_ICONERROR);
    return 1;
}

fs::path ownFolder() {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) return fs::path(std::wstring(name.data(), length)).parent_path();
        name.resize(name.size() * 2);
    }
}

// %LOCALAPPDATA%; a relative value is no place for data and counts as unset.
fs::path localAppData() {
    DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    size = GetEnvironmentVariableW(L"LOCALAPPDATA", &value[0], size);
    value.resize(size);
    fs::path folder(value);
    return folder.is_absolute() ? folder : fs::path();
}

std::string quoted(const fs::path& path) {
    return "\"" + path.u8string() + "\"";
}

int startInstalledProgram() {
    const fs::path installed = ownFolder();
    if (installed.empty()) return fail("cannot tell where it is installed");
    const fs::path program = installed / "program" / "quillon.exe";
    const fs::path templateRoot = installed / "template" / "VESTRALUME";
    std::error_code error;
    if (!fs::is_regular_file(program, error))
        return fail("the program " + program.u8string() + " is missing; reinstall Quillon");

    const fs::path appData = localAppData();
    if (appData.empty()) return fail("LOCALAPPDATA is not set, so there is no place for your data");
    const fs::path userFolder = appData / "Quillon";
    std::string problem = makeUserDataRoot(templateRoot, userFolder / "VESTRALUME");
    if (!problem.empty()) return fail(problem);

    std::wstring commandLine = wide(quoted(program));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        userFolder.c_str(), &startup, &started))
        return fail("cannot start " + program.u8string());
    CloseHandle(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(started.hProcess, &status);
    CloseHandle(started.hProcess);
    return static_cast<int>(status);
}

}  // namespace

int main() {
    // A path that cannot be converted, say, must not end the launcher
    // without a word.
    try {
        return startInstalledProgram();
    } catch (const std::exception& failure) {
        return fail(failure.what());
    } catch (...) {
        return fail("an unexpected error");
    }
}

#endif  // _WIN32
