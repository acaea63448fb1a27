// The data-root checker on hostile roots: FIFOs, devices, links out of the
// root, giant images and half-made favourites. It finishes at once on every
// one of them and says what is wrong, in the words the viewer's refusals
// suggest.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tools/data_check.h"
#include "cards/jpeg_writer.h"
#include "tools/make_data.h"

namespace fs = std::filesystem;

namespace {

const std::string textRoot = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME";

// How a file of the root is replaced for one case.
enum Replacement { byFifo, byDevice, byText, byGiantImage, byCopyOf };

struct Change {
    const char* file;  // relative to VESTRALUME/
    Replacement how;
    std::string with;  // text, image size "WxH", or the file (relative to VESTRALUME/) to copy
};

struct HostileCase {
    const char* name;
    std::vector<Change> changes;
    std::vector<std::string> expected;  // words the report must hold; none: the root is sound
};

std::string pixels(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// Cases of a kind share one root, so the checker runs a few times only.
const HostileCase hostileCases[] = {
    {"FIFOs",
     {{"1/5.Quillon", byFifo, ""},
      {"1/7.txt", byFifo, ""},
      {"links.tsv", byFifo, ""},
      {"n/w.txt", byFifo, ""},
      {"n/b.txt", byFifo, ""},
      {"n/3.txt", byFifo, ""},
      {"i/3.jpg", byFifo, ""},
      {"1/fifo", byFifo, ""},
      {"n/n2.txt", byText, "VESTRALUME/1/fifo"}},
     {"the thumbnails of channel numbers 5 cannot be read",
      "the link files of channel numbers 7 cannot be read",
      "VESTRALUME/links.tsv is not a regular file (a FIFO, device, socket or folder) (the URL "
      "directory)",
      "VESTRALUME/n/w.txt is not a regular file", "VESTRALUME/n/b.txt is not a regular file",
      "VESTRALUME/n/3.txt is not a regular file", "VESTRALUME/i/3.jpg is not a regular file",
      "VESTRALUME/n/n2.txt names VESTRALUME/1/fifo, which is not a regular file"}},
    {"links to /dev/zero and paths leading out",
     {{"1/6.Quillon", byDevice, ""},
      {"links.tsv", byDevice, ""},
      {"n/w.txt", byDevice, ""},
      {"n/n1.txt", byText, "/dev/zero"},
      {"n/dd.txt", byText, "VESTRALUME/../x.Quillon"}},
     {"the thumbnails of channel numbers 6 cannot be read", "VESTRALUME/links.tsv is not a regular file",
      "VESTRALUME/n/w.txt leads out of its folder",
      "VESTRALUME/n/n1.txt names /dev/zero, a path outside the data root",
      "VESTRALUME/n/dd.txt names VESTRALUME/../x.Quillon, a path outside the data root"}},
    {"giant images",
     {{"1/17.Quillon", byGiantImage, pixels(8192, 16)},
      {"1/18.Quillon", byGiantImage, pixels(16, 8192)},
      {"1/19.Quillon", byGiantImage, pixels(4097, 16)},
      {"1/20.Quillon", byGiantImage, pixels(4097, 4097)},
      {"i/2.jpg", byGiantImage, pixels(4097, 8)}},
     {"the thumbnails of channel numbers 17 to 20 are larger than 4096 x 4096 pixels",
      "VESTRALUME/i/2.jpg is larger than 4096 x 4096 pixels (placeholder image)"}},
    {"half-made favourites",
     {{"n/d.txt", byText, "3"},
      {"2/1.Quillon", byCopyOf, "1/5.Quillon"},  // whole
      {"2/1.txt", byCopyOf, "1/5.txt"},
      {"2/2.Quillon", byCopyOf, "1/6.Quillon"},  // two channels
      {"2/2.txt", byCopyOf, "1/7.txt"},
      {"2/3.Quillon", byCopyOf, "i/1.jpg"},  // counted, never copied
      {"2/3.txt", byCopyOf, "1/9.txt"}},
     {"favourite 2 is half-made: thumbnail and link file come from different catalogue channels",
      "favourite 3 is half-made: counted in VESTRALUME/n/d.txt, but the thumbnail is the blank"}},
    {"whole favourites, the largest image allowed",
     {{"n/d.txt", byText, "2"},
      {"2/1.Quillon", byCopyOf, "1/5.Quillon"},
      {"2/1.txt", byCopyOf, "1/5.txt"},
      {"2/2.Quillon", byCopyOf, "1/1296.Quillon"},
      {"2/2.txt", byCopyOf, "1/6.txt"},  // the same link number as channel 1296
      {"i/2.jpg", byGiantImage, pixels(4096, 8)}},
     {}},
};

// The sample root, made once for all cases in a memory file system when
// there is one; each case changes a few files and puts them back.
class HostileRoot : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::error_code code;
        const fs::path base = fs::is_directory("/dev/shm", code) && access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::temp_directory_path();
        std::string pattern = (base / "quillon-hostile-root-XXXXXX").string();
        folder = mkdtemp(pattern.data()) ? pattern : std::string();
        std::string error;
        made = !folder.empty() && makeDataRoot(folder, textRoot, makeReplace, error);
        EXPECT_TRUE(made) << error;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }
    void SetUp() override { ASSERT_TRUE(made); }

    static std::string file(const std::string& relative) { return folder + "/VESTRALUME/" + relative; }

    // Runs the checker in a child process that must end within seconds; the
    // report comes back through a file. False when it did not end.
    static bool checkPromptly(std::vector<std::string>& problems) {
        const std::string report = folder + "/report.txt";
        fs::remove(report);
        const int status = runWithin(60, [&] {
            std::ofstream out(report);
            for (const std::string& problem : checkDataRoot(folder)) out << problem << "\n";
            return 0;
        });
        problems.clear();
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) problems.push_back(line);
        return status == 0;
    }

    static std::string folder;
    static bool made;
};

std::string HostileRoot::folder;
bool HostileRoot::made = false;

bool mentions(const std::vector<std::string>& problems, const std::string& words) {
    return std::any_of(problems.begin(), problems.end(),
                       [&](const std::string& problem) { return problem.find(words) != std::string::npos; });
}

TEST_F(HostileRoot, CheckerFinishesAndReportsEveryHostileFile) {
    std::vector<std::string> problems;
    ASSERT_TRUE(checkPromptly(problems));
    ASSERT_EQ(problems, std::vector<std::string>());
    for (const HostileCase& hostile : hostileCases) {
        SCOPED_TRACE(hostile.name);
        struct Saved {
            std::string path;
            bool existed;
            std::string bytes;
        };
        std::vector<Saved> saved;
        for (const Change& change : hostile.changes) {
            const std::string path = file(change.file);
            saved.push_back({path, fs::is_regular_file(path), readFile(path)});
            std::error_code ignored;
            fs::remove(path, ignored);
            switch (change.how) {
            case byFifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); break;
            case byDevice: fs::create_symlink("/dev/zero", path); break;
            case byText: writeFile(path, change.with); break;
            case byCopyOf: writeFile(path, readFile(file(change.with))); break;
            case byGiantImage: {
                const int width = std::stoi(change.with);
                const int height = std::stoi(change.with.substr(change.with.find('x') + 1));
                ASSERT_TRUE(writeSolidJpeg(path, width, height, 128, 128, 128));
                break;
            }
            }
        }
        const bool finished = checkPromptly(problems);
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            fs::remove(it->path);
            if (it->existed) writeFile(it->path, it->bytes);
        }
        EXPECT_TRUE(finished) << "the checker did not finish";
        if (hostile.expected.empty()) {
            EXPECT_EQ(problems, std::vector<std::string>());
        }
        for (const std::string& words : hostile.expected)
            EXPECT_TRUE(mentions(problems, words))
                << "expected \"" << words << "\" in:\n" << testing::PrintToString(problems);
    }
    ASSERT_TRUE(checkPromptly(problems));
    EXPECT_EQ(problems, std::vector<std::string>()) << "the root was not restored";
}

}  // namespace
