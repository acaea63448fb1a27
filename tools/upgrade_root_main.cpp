// quillon-upgrade-root: brings a user's data root up to date with the
// installed template, keeping everything the user owns. The launcher runs
// it before every start; it does nothing when the root is as new as the
// template.
#include <cstdio>
#include <string>

#include "tools/upgrade.h"
#include "platform/folder_exchange.h"
#include "platform/folder_lock.h"
#include "state/root_locks.h"

namespace {

bool exchangeInOneStep(const std::string& a, const std::string& b) {
    return exchangeFolders(a, b) == foldersExchanged;
}

}  // namespace

int main(int argc, char** argv) {
    const bool help = argc == 2 && std::string(argv[1]) == "--help";
    if (argc != 3 || help) {
        std::fprintf(help ? stdout : stderr,
                     "Usage: quillon-upgrade-root <template VESTRALUME> <folder containing VESTRALUME>\n"
                     "Brings the delivered files of the data root up to date with the template\n"
                     "and keeps the state, the favourites and an imported catalogue.\n");
        return help ? 0 : 2;
    }
    const std::string folder = argv[2];
    // A running viewer or import owns the root; the upgrade waits for a
    // later start.
    const std::string root = folder + "/VESTRALUME";
    if (lockFolder(root) == folderBusy || lockImports(folder) == folderBusy) {
        std::fprintf(stderr, "quillon: %s is in use; it will be brought up to date on a later start\n",
                     root.c_str());
        return 0;
    }
    std::string message;
    const UpgradeOutcome outcome = upgradeDataRoot(argv[1], folder, message, exchangeInOneStep);
    if (!message.empty()) std::fprintf(stderr, "quillon: %s\n", message.c_str());
    return outcome == upgradeFailed ? 1 : 0;
}
