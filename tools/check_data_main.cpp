// quillon-check-data: reports every problem of the data root
// <folder>/VESTRALUME; exit status 0 only when it is sound.
#include <cstdio>
#include <string>

#include "tools/data_check.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: quillon-check-data <folder containing VESTRALUME>\n"
                     "Reports every missing or malformed file of the data root and exits\n"
                     "with status 0 only when the root is sound.\n");
        return argc == 2 ? 0 : 1;
    }
    const std::string folder = argv[1];
    const std::vector<std::string> problems = checkDataRoot(folder);
    for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
    if (const size_t pending = pendingCardCount(folder))
        std::printf("%zu card%s of the catalogue %s still being made in the background "
                    "(quillon-import --make-cards goes on with them).\n",
                    pending, pending == 1 ? "" : "s", pending == 1 ? "is" : "are");
    if (problems.empty()) {
        std::printf("The data root %s/VESTRALUME is sound.\n", folder.c_str());
        return 0;
    }
    std::printf("The data root %s/VESTRALUME has %zu problem%s.\n", folder.c_str(),
                problems.size(), problems.size() == 1 ? "" : "s");
    return 1;
}
