// quillon-make-data: writes the sample data root <target folder>/VESTRALUME.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cards/cards.h"
#include "tools/make_data.h"

#ifndef QUILLON_TEXT_DATA
#define QUILLON_TEXT_DATA "data/VESTRALUME"
#endif

namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: quillon-make-data [--force | --update] [--text <folder>]\n"
                 "                         [--cache <folder>] <target folder>\n"
                 "Writes the sample data root <target folder>/VESTRALUME: the text data\n"
                 "(templates, first-run state, models, the URL directory) and every image.\n"
                 "  --force        replace an existing VESTRALUME (its state and favourites are lost)\n"
                 "  --update       rewrite the delivered files of an existing VESTRALUME and keep\n"
                 "                 its state files and favourites (makes a new root when missing)\n"
                 "  --text <dir>   take the text data from <dir> (a VESTRALUME folder, or a folder\n"
                 "                 holding one) instead of %s\n"
                 "  --cache <dir>  keep the cards made in <dir>, so that making a root again\n"
                 "                 copies them (default: %s)\n",
                 QUILLON_TEXT_DATA, defaultCardCacheFolder().c_str());
}

// The text data root named by --text: the folder itself when it is laid out
// like VESTRALUME, otherwise its VESTRALUME subfolder.
std::string textRootOf(const std::string& folder) {
    std::error_code code;
    const std::filesystem::path nested = std::filesystem::path(folder) / rootFolderName;
    if (std::filesystem::is_directory(nested / "n", code)) return nested.string();
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    MakeMode mode = makeFresh;
    std::string textRoot = QUILLON_TEXT_DATA;
    std::string target;
    std::string cardCache;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--force") {
            mode = makeReplace;
        } else if (argument == "--update") {
            mode = makeUpdate;
        } else if (argument == "--text" && i + 1 < argc) {
            textRoot = textRootOf(argv[++i]);
        } else if (argument == "--cache" && i + 1 < argc) {
            cardCache = argv[++i];
        } else if (argument == "--help" || argument == "-h") {
            printUsage(stdout);
            return 0;
        } else if (!argument.empty() && argument[0] != '-' && target.empty()) {
            target = argument;
        } else {
            std::fprintf(stderr, "quillon-make-data: unexpected argument \"%s\"\n",
                         argument.c_str());
            printUsage(stderr);
            return 1;
        }
    }
    if (target.empty()) {
        printUsage(stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!makeDataRoot(target, textRoot, mode, error, cardCache)) {
        std::fprintf(stderr, "quillon-make-data: %s\n", error.c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("quillon-make-data: wrote %s/VESTRALUME in %.1f s\n", target.c_str(), seconds);
    return 0;
}
