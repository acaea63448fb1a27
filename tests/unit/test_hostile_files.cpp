// A data root from anywhere: every reader of the viewer meets FIFOs,
// devices, endless files, folders, giant images and floods of bad lines and
// answers at once, reading nothing it cannot use. Each reader runs in a
// child process that must end within a few seconds, so a reader that hangs
// fails its test instead of hanging the test program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "assets/model.h"
#include "assets/texture.h"
#include "launch/launch.h"
#include "nav/commands.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"

namespace fs = std::filesystem;

namespace {

// Far longer than any of these reads takes on a loaded machine, far shorter
// than forever.
constexpr double promptly = 60;

// How a file is made unusable.
enum Hostile { fifo, zeroDevice, folder, sparseGiant };

const char* hostileName(Hostile kind) {
    switch (kind) {
    case fifo: return "a FIFO";
    case zeroDevice: return "a link to /dev/zero";
    case folder: return "a folder";
    case sparseGiant: return "a 128 MiB file";
    }
    return "?";
}

void makeHostile(const std::string& path, Hostile kind) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
    switch (kind) {
    case fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; break;
    case zeroDevice: fs::create_symlink("/dev/zero", path); break;
    case folder: fs::create_directories(path); break;
    case sparseGiant:
        writeFile(path, "7");
        fs::resize_file(path, 128u << 20);
        break;
    }
}

const Hostile everyKind[] = {fifo, zeroDevice, folder, sparseGiant};

// Every state-file reader gives no value, at once, for a special or endless
// state file; a copy from one copies nothing.
TEST(HostileFiles, StateFileReadersAnswerAtOnce) {
    ScratchRoot root;
    for (Hostile kind : everyKind) {
        makeHostile("VESTRALUME/n/b.txt", kind);
        writeFile("VESTRALUME/n/hl.txt", "12");
        const int status = runWithin(promptly, [] {
            int found = 0;
            found += readInt("VESTRALUME/n/b.txt").has_value();
            found += readFloat("VESTRALUME/n/b.txt").has_value();
            found += readIntList("VESTRALUME/n/b.txt", 1).has_value();
            found += !readPath("VESTRALUME/n/b.txt", wideScan).empty();
            found += copyOver("VESTRALUME/n/b.txt", "VESTRALUME/n/hl.txt");
            return found;
        });
        EXPECT_EQ(status, 0) << hostileName(kind) << " as b.txt";
        EXPECT_TRUE(readFile("VESTRALUME/n/hl.txt") == "12") << hostileName(kind) << " copied";
    }
}

// Thumbnails, scene images and models that are special or endless are load
// failures (the caller shows the placeholder, or goes on without the model).
TEST(HostileFiles, ImageAndModelLoadersAnswerAtOnce) {
    ScratchRoot root;
    for (Hostile kind : everyKind) {
        makeHostile("VESTRALUME/1/5.Quillon", kind);
        makeHostile("VESTRALUME/n/w.txt", kind);
        const int status = runWithin(promptly, [] {
            testing::internal::CaptureStdout();
            const bool image = decodeJpeg("VESTRALUME/1/5.Quillon").has_value();
            const bool model = loadModel("VESTRALUME/n/w.txt") != nullptr;
            loadMaterialLibrary("VESTRALUME/n/w.txt");
            testing::internal::GetCapturedStdout();
            return (image ? 1 : 0) + (model ? 2 : 0);
        });
        EXPECT_EQ(status, 0) << hostileName(kind);
    }
}

// The URL directory: a special or endless links.tsv leaves the directory
// empty at once.
TEST(HostileFiles, UrlDirectoryAnswersAtOnce) {
    ScratchRoot root;
    for (Hostile kind : everyKind) {
        makeHostile("VESTRALUME/links.tsv", kind);
        const int status = runWithin(promptly, [] {
            testing::internal::CaptureStdout();
            loadUrlDirectory();
            testing::internal::GetCapturedStdout();
            return findUrl(1) ? 1 : 0;
        });
        EXPECT_EQ(status, 0) << hostileName(kind);
    }
}

// F12 keeps to its own plain files in the working directory: a FIFO, a
// device link or a link to a file elsewhere among the numbered images is
// skipped, and the copy goes on with the next.
TEST(HostileFiles, BatchCopySkipsSpecialFilesAndLinks) {
    ScratchRoot root;
    const std::string outside = root.folder() + "-outside.jpg";
    writeFile(outside, "private picture");
    for (int k = 1; k <= 8; ++k) writeFile(std::to_string(k) + ".jpg", "image " + std::to_string(k));
    makeHostile("3.jpg", fifo);
    makeHostile("4.jpg", zeroDevice);
    fs::remove("5.jpg");
    fs::create_symlink(outside, "5.jpg");
    const int status = runWithin(promptly, [] {
        copyThumbnailBatch();
        return 0;
    });
    EXPECT_EQ(status, 0) << "the batch copy did not end";
    for (int k : {3, 4, 5}) EXPECT_FALSE(fileExists(std::to_string(k) + ".Quillon")) << k;
    for (int k : {1, 2, 6, 8})
        EXPECT_EQ(readFile(std::to_string(k) + ".Quillon"), "image " + std::to_string(k)) << k;
    EXPECT_EQ(readFile("n.txt"), "2000");
    fs::remove(outside);
}

// Images over 4096 x 4096 pixels are refused from their header, before any
// decoding; images up to it decode.
TEST(HostileFiles, PixelCapRefusesGiantImagesFromTheHeader) {
    ScratchRoot root;
    struct Size {
        int width, height;
        bool decodes;
    };
    for (const Size size : {Size{4096, 8, true}, Size{8, 4096, true}, Size{4097, 8, false},
                            Size{8, 4097, false}, Size{8192, 16, false}}) {
        ASSERT_TRUE(writeSolidJpeg("VESTRALUME/1/9.Quillon", size.width, size.height, 9, 9, 9));
        const long decodedBefore = decodeCount;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const std::optional<Image> image = decodeJpeg("VESTRALUME/1/9.Quillon");
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string what = std::to_string(size.width) + " x " + std::to_string(size.height);
        EXPECT_EQ(image.has_value(), size.decodes) << what;
        if (image) {
            EXPECT_EQ(image->width, size.width);
        } else {
            EXPECT_EQ(out, "Impossível carregar arquivo JPG: VESTRALUME/1/9.Quillon\n") << what;
            EXPECT_NE(err.find("4096 x 4096"), std::string::npos) << what << ": " << err;
            EXPECT_EQ(decodeCount, decodedBefore) << what;
        }
    }
}

// A flood of bad lines gives the first reports line by line and then one
// line counting the rest, not one line each.
TEST(HostileFiles, SkipReportsAreCapped) {
    ScratchRoot root;
    const long badLines = 1000000;
    {
        std::FILE* table = std::fopen("VESTRALUME/links.tsv", "wb");
        ASSERT_NE(table, nullptr);
        std::fputs("1\thttps://first.example/\n", table);
        for (long i = 0; i < badLines; ++i) std::fputs("bad line\n", table);
        std::fputs("2\thttps://last.example/\n", table);
        std::fclose(table);
    }
    testing::internal::CaptureStdout();
    loadUrlDirectory();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(out.size(), 20000u);
    EXPECT_NE(out.find("linha 2 ignorada"), std::string::npos);
    EXPECT_NE(out.find("mais " + std::to_string(badLines - 50) + " linhas ignoradas"), std::string::npos)
        << out.substr(out.size() > 300 ? out.size() - 300 : 0);
    EXPECT_EQ(findUrl(1), "https://first.example/");
    EXPECT_EQ(findUrl(2), "https://last.example/");

    std::string model = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    for (int i = 0; i < 100000; ++i) model += "f 1 2 99\n";
    testing::internal::CaptureStdout();
    Model* parsed = parseModel(model, [](const std::string&) { return -1; }, [](const std::string&) {});
    out = testing::internal::GetCapturedStdout();
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(faceCount(*parsed), 1);
    EXPECT_LT(out.size(), 20000u);
    EXPECT_NE(out.find("Face ignorada na linha 5: índice inválido"), std::string::npos);
    EXPECT_NE(out.find("Mais 99950 faces ignoradas"), std::string::npos);
    delete parsed;
}

// The directory refuses an address over 2048 bytes, so a 1 MB address never
// reaches the desktop's handler.
TEST(HostileFiles, UrlDirectoryRefusesAMegabyteAddress) {
    ScratchRoot root;
    const std::string huge = "https://huge.example/" + std::string(1 << 20, 'a');
    const std::string longest = "https://long.example/" + std::string(2048 - 21, 'b');
    writeFile("VESTRALUME/links.tsv", "5\t" + huge + "\n6\t" + huge + "\tmedia\n7\t" + longest + "\n");
    testing::internal::CaptureStdout();
    loadUrlDirectory();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(findUrl(5), std::nullopt);
    EXPECT_EQ(findUrl(6), std::nullopt);
    EXPECT_EQ(findUrl(7), longest);
    EXPECT_NE(out.find("linha 1 ignorada"), std::string::npos);
    EXPECT_NE(out.find("linha 2 ignorada"), std::string::npos);
}

}  // namespace
