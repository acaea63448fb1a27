// The user's own data root: where the installed launcher keeps it, and its
// making from the installed template on first use (platform/user_root.h, the
// one maker the Windows launcher uses too).
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dataroot/data_root.h"
#include "import/import.h"
#include "platform/user_root.h"

namespace fs = std::filesystem;

std::string userDataFolder(std::string& error) {
    // A relative XDG_DATA_HOME is not valid and is ignored, as the desktop's
    // base directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return std::string(dataHome) + "/quillon";
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.local/share/quillon";
    error = "neither HOME nor XDG_DATA_HOME is set, so there is no place for your data; "
            "give the folder with --root";
    return std::string();
}

bool makeRootFromTemplate(const std::string& folder, const std::string& templateRoot,
                          std::string& error) {
    const std::string rootName = dataRoot.substr(0, dataRoot.size() - 1);
    error = makeUserDataRoot(fs::u8path(templateRoot), fs::u8path(folder) / rootName);
    return error.empty();
}
