// JPEG decoding and the texture registry: row order and colour layouts,
// failures that must not end the program, the one-record-per-path rule and
// holders sharing a record.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include <GL/gl.h>
#include <GL/glu.h>

#include "assets/mipmaps.h"
#include "assets/texture.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "tests/unit/test_texture_images.h"
#include "cards/jpeg_writer.h"

namespace {

const std::string failureMessage = "Impossível carregar arquivo JPG: ";

struct LayoutCase {
    ImageLayout layout;
    int width;
    int height;
    const char* what;
};

const LayoutCase layoutCases[] = {
    {ImageLayout::grey, 64, 32, "greyscale"},
    {ImageLayout::rgb, 64, 64, "colour"},
    {ImageLayout::rgb, 100, 60, "100 x 60"},
    {ImageLayout::progressiveRgb, 48, 40, "progressive colour"},
    {ImageLayout::ycck, 40, 40, "Adobe YCCK"},
    {ImageLayout::adobeCmyk, 40, 24, "Adobe CMYK"},
    {ImageLayout::plainCmyk, 40, 24, "CMYK without Adobe marker"},
};

// Checks the centre of each quadrant of an RGB image of width x height
// stored bottom row first (as the decoder and OpenGL hold it).
void expectUprightQuadrants(const unsigned char* rgb, int width, int height, ImageLayout layout,
                            const std::string& what) {
    struct Sample {
        int x, yFromTop;
    };
    const Sample samples[] = {{width / 4, height / 4},
                              {3 * width / 4, height / 4},
                              {width / 4, 3 * height / 4},
                              {3 * width / 4, 3 * height / 4}};
    for (const Sample& s : samples) {
        const int row = height - 1 - s.yFromTop;
        const unsigned char* pixel = rgb + (static_cast<size_t>(row) * width + s.x) * 3;
        const Rgb expected = expectedColour(quadrantColour(s.x, s.yFromTop, width, height), layout);
        EXPECT_TRUE(closeTo(pixel, expected))
            << what << " at " << s.x << "," << s.yFromTop << " from the top: " << describe(pixel);
    }
}

// The decoded pixels as RGB (grey repeated in the three channels).
std::vector<unsigned char> asRgb(const Image& image) {
    const size_t count = static_cast<size_t>(image.width) * image.height;
    std::vector<unsigned char> rgb(count * 3);
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = image.pixels[i * image.components + (image.components == 1 ? 0 : c)];
    return rgb;
}

std::string jpegBytes(int width, int height, ImageLayout layout, int noise = 0) {
    writeQuadrantJpeg("scratch.jpg", width, height, layout, noise);
    std::string bytes = readFile("scratch.jpg");
    std::remove("scratch.jpg");
    return bytes;
}

// A valid JPEG whose frame header claims another size.
std::string withClaimedSize(std::string bytes, int width, int height) {
    const size_t frame = bytes.find("\xFF\xC0");
    if (frame == std::string::npos) return bytes;
    bytes[frame + 5] = static_cast<char>(height >> 8);
    bytes[frame + 6] = static_cast<char>(height & 255);
    bytes[frame + 7] = static_cast<char>(width >> 8);
    bytes[frame + 8] = static_cast<char>(width & 255);
    return bytes;
}

struct BrokenFile {
    const char* what;
    std::string bytes;  // not written when `missing`
    bool missing = false;
};

std::vector<BrokenFile> brokenFiles() {
    // Noisy pictures, so that the cuts fall inside the image data.
    const std::string baseline = jpegBytes(64, 64, ImageLayout::rgb, 80);
    const std::string progressive = jpegBytes(64, 64, ImageLayout::progressiveRgb, 80);
    return {
        {"missing", "", true},
        {"empty", ""},
        {"text", "v 0 0 0\nf 1 2 3\n"},
        {"start marker then garbage", std::string("\xFF\xD8", 2) + std::string(200, 'x')},
        {"truncated baseline", baseline.substr(0, baseline.size() / 2)},
        {"truncated progressive", progressive.substr(0, progressive.size() * 2 / 3)},
        {"header only", baseline.substr(0, baseline.find("\xFF\xDA") + 4)},
        {"claims 20000 x 20000", withClaimedSize(baseline, 20000, 20000)},
    };
}

TEST(JpegDecode, DecodesEveryLayoutUprightWithItsSize) {
    ScratchRoot root;
    for (const LayoutCase& c : layoutCases) {
        writeQuadrantJpeg("VESTRALUME/i/q.jpg", c.width, c.height, c.layout);
        std::optional<Image> image = decodeJpeg("VESTRALUME/i/q.jpg");
        ASSERT_TRUE(image) << c.what;
        EXPECT_EQ(image->components, c.layout == ImageLayout::grey ? 1 : 3) << c.what;
        EXPECT_EQ(image->width, c.width) << c.what;
        EXPECT_EQ(image->height, c.height) << c.what;
        expectUprightQuadrants(asRgb(*image).data(), c.width, c.height, c.layout, c.what);
    }
}

TEST(JpegDecode, BrokenFilesPrintTheMessageAndYieldNothing) {
    ScratchRoot root;
    for (const BrokenFile& broken : brokenFiles()) {
        const std::string path = std::string("VESTRALUME/1/") + broken.what + ".Quillon";
        if (!broken.missing) writeFile(path, broken.bytes);
        const long decodedBefore = decodeCount;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::optional<Image> image = decodeJpeg(path);
        std::fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(image) << broken.what;
        EXPECT_EQ(out, failureMessage + path + "\n") << broken.what;
        // Damaged files also get the decoder's own explanation.
        if (!broken.missing) {
            EXPECT_FALSE(err.empty()) << broken.what;
        }
        EXPECT_EQ(decodeCount, decodedBefore) << broken.what;
    }
}

TEST(JpegDecode, FolderAndEmptyMemoryAreFailures) {
    ScratchRoot root;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(decodeJpeg("VESTRALUME/i"));
    EXPECT_FALSE(decodeJpegMemory(nullptr, 0, "in memory"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              failureMessage + "VESTRALUME/i\n" + failureMessage + "in memory\n");
}

TEST(JpegDecode, MissingEndMarkerOnlyWarns) {
    std::string bytes = jpegBytes(32, 32, ImageLayout::rgb);
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9");
    bytes.resize(bytes.size() - 2);
    const long decodedBefore = decodeCount;
    testing::internal::CaptureStderr();
    std::optional<Image> image =
        decodeJpegMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), "no end");
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 32);
    EXPECT_EQ(decodeCount, decodedBefore + 1);
}

// Registry tests run with a real OpenGL context and start and end with an
// empty registry.
class TextureRegistry : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        forgetAllTextures();
    }
    void TearDown() override {
        forgetAllTextures();
        setUnheldTextureBudget(defaultUnheldTextureBudget);
    }

    // The texture's level 0 as OpenGL holds it, with its size.
    static std::vector<unsigned char> uploadedImage(const Texture& texture, GLint& width, GLint& height) {
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture.id));
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }

    static unsigned char topLeftRed(const Texture& texture) {
        GLint width = 0, height = 0;
        const std::vector<unsigned char> rgb = uploadedImage(texture, width, height);
        return rgb[(static_cast<size_t>(height - 1) * width) * 3];
    }

    ScratchRoot root;
};

TEST_F(TextureRegistry, SamePathLoadsOnceEvenWhenTheFileChanges) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/1.jpg", 16, 16, 250, 0, 0));
    const long decodedBefore = decodeCount;
    Texture* first = loadTexture("VESTRALUME/i/1.jpg");
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/1.jpg", 16, 16, 0, 0, 250));
    Texture* second = loadTexture("VESTRALUME/i/1.jpg");
    EXPECT_EQ(first, second);
    EXPECT_EQ(decodeCount, decodedBefore + 1);
    EXPECT_EQ(first->holders, 2);
    EXPECT_EQ(first->name, "VESTRALUME/i/1.jpg");
    EXPECT_EQ(textureRegistry.size(), 1u);
    EXPECT_GT(topLeftRed(*second), 200);
}

TEST_F(TextureRegistry, DiscardThenLoadDecodesAfresh) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/2.jpg", 16, 16, 250, 0, 0));
    Texture* first = loadTexture("VESTRALUME/i/2.jpg");
    const GLuint firstId = static_cast<GLuint>(first->id);
    discardTexture(first);
    EXPECT_EQ(findTextureIndex("VESTRALUME/i/2.jpg"), -1);
    EXPECT_TRUE(textureRegistry.empty());
    EXPECT_FALSE(glIsTexture(firstId));

    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/2.jpg", 16, 16, 0, 0, 250));
    const long decodedBefore = decodeCount;
    Texture* second = loadTexture("VESTRALUME/i/2.jpg");
    EXPECT_EQ(decodeCount, decodedBefore + 1);
    EXPECT_EQ(second->holders, 1);
    EXPECT_LT(topLeftRed(*second), 50);
    discardTexture(nullptr);  // ignored
}

TEST_F(TextureRegistry, EveryHolderMustDiscardBeforeTheRecordGoes) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/3.jpg", 8, 8, 10, 20, 30));
    Texture* tile = loadTexture("VESTRALUME/i/3.jpg");
    Texture* refresh = loadTextureOrPlaceholder("VESTRALUME/i/3.jpg", 1);
    Texture* other = loadTexture("VESTRALUME/i/3.jpg");
    ASSERT_EQ(tile, refresh);
    ASSERT_EQ(tile, other);
    const GLuint id = static_cast<GLuint>(tile->id);
    discardTexture(refresh);
    discardTexture(other);
    EXPECT_EQ(findTextureIndex("VESTRALUME/i/3.jpg"), 0);
    EXPECT_TRUE(glIsTexture(id));
    EXPECT_EQ(tile->holders, 1);
    discardTexture(tile);
    EXPECT_EQ(findTextureIndex("VESTRALUME/i/3.jpg"), -1);
    EXPECT_FALSE(glIsTexture(id));
}

TEST_F(TextureRegistry, ReleasedRecordStaysRegistered) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/4.jpg", 8, 8, 10, 20, 30));
    Texture* texture = loadTexture("VESTRALUME/i/4.jpg");
    releaseTexture(texture);
    releaseTexture(texture);  // no holder left: stays at 0
    releaseTexture(nullptr);
    EXPECT_EQ(texture->holders, 0);
    EXPECT_EQ(findTextureIndex("VESTRALUME/i/4.jpg"), 0);
    const long decodedBefore = decodeCount;
    EXPECT_EQ(loadTexture("VESTRALUME/i/4.jpg"), texture);
    EXPECT_EQ(decodeCount, decodedBefore);
    EXPECT_EQ(texture->holders, 1);
    discardTexture(texture);
    EXPECT_TRUE(textureRegistry.empty());
}

TEST_F(TextureRegistry, TwoSpellingsOfOneFileGiveTwoRecords) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/5.jpg", 8, 8, 10, 20, 30));
    const long decodedBefore = decodeCount;
    Texture* plain = loadTexture("VESTRALUME/i/5.jpg");
    Texture* dotted = loadTexture("./VESTRALUME/i/5.jpg");
    EXPECT_NE(plain, dotted);
    EXPECT_NE(plain->id, dotted->id);
    EXPECT_EQ(decodeCount, decodedBefore + 2);
    EXPECT_EQ(findTextureIndex("VESTRALUME/i/5.jpg"), 0);
    EXPECT_EQ(findTextureIndex("./VESTRALUME/i/5.jpg"), 1);
    EXPECT_EQ(findTextureIndex("VESTRALUME/I/5.jpg"), -1);
}

TEST_F(TextureRegistry, LongPathsAreKeptWhole) {
    const std::string folder = "VESTRALUME/1/" + std::string(120, 'p');
    std::filesystem::create_directories(folder);
    const std::string first = folder + "/1.Quillon", second = folder + "/2.Quillon";
    ASSERT_TRUE(writeSolidJpeg(first, 8, 8, 10, 20, 30));
    ASSERT_TRUE(writeSolidJpeg(second, 8, 8, 10, 20, 30));
    Texture* one = loadTexture(first);
    Texture* two = loadTexture(second);
    EXPECT_NE(one, two);
    EXPECT_EQ(one->name, first);
    EXPECT_EQ(findTextureIndex(second), 1);
}

TEST_F(TextureRegistry, UploadsEveryLayoutUprightAsMipmappedRgb) {
    for (const LayoutCase& c : layoutCases) {
        const std::string path = std::string("VESTRALUME/t/") + c.what + ".jpg";
        ASSERT_TRUE(writeQuadrantJpeg(path, c.width, c.height, c.layout));
        Texture* texture = loadTexture(path);
        EXPECT_EQ(texture->width, c.width) << c.what;
        EXPECT_EQ(texture->height, c.height) << c.what;
        EXPECT_EQ(texture->components, c.layout == ImageLayout::grey ? 1 : 3) << c.what;

        GLint width = 0, height = 0;
        const std::vector<unsigned char> rgb = uploadedImage(*texture, width, height);
        // GLU scales each side to a power of two and builds every level.
        EXPECT_EQ(width & (width - 1), 0) << c.what << " width " << width;
        EXPECT_EQ(height & (height - 1), 0) << c.what << " height " << height;
        GLint format = 0, lastLevelWidth = 0, minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
        EXPECT_EQ(format, GL_RGB) << c.what;
        int levels = 0;
        for (int side = std::max(width, height); side > 1; side /= 2) ++levels;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, levels, GL_TEXTURE_WIDTH, &lastLevelWidth);
        EXPECT_EQ(lastLevelWidth, 1) << c.what;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
        EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR) << c.what;
        EXPECT_EQ(magFilter, GL_LINEAR) << c.what;
        EXPECT_EQ(wrapS, GL_REPEAT) << c.what;
        EXPECT_EQ(wrapT, GL_REPEAT) << c.what;
        expectUprightQuadrants(rgb.data(), width, height, c.layout, c.what);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Every level of a texture as OpenGL holds it, as RGB rows.
std::vector<std::vector<unsigned char>> textureLevels(GLuint id) {
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<std::vector<unsigned char>> levels;
    for (int level = 0;; ++level) {
        GLint width = 0, height = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &height);
        if (width == 0 || height == 0 || level > 20) break;
        std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        levels.push_back(std::move(rgb));
    }
    return levels;
}

// The chain built in the program holds, at every level, the texels GLU's
// gluBuild2DMipmaps makes of the same picture: noisy pictures, so that every
// rounding shows, down to the 1-pixel rows and columns at the small end.
TEST_F(TextureRegistry, MipmapChainHasTheTexelsOfGlu) {
    const struct {
        int width, height, components;
    } sizes[] = {{256, 128, 3}, {128, 256, 3}, {64, 64, 1}, {16, 1, 3}, {1, 16, 3},
                 {32, 2, 1},    {2, 32, 3},    {1, 1, 3},   {100, 60, 3}, {48, 40, 1}};
    std::mt19937 noise(13);
    for (const auto& size : sizes) {
        const std::string what = std::to_string(size.width) + "x" + std::to_string(size.height) + "x" +
                                 std::to_string(size.components);
        Image image;
        image.width = size.width;
        image.height = size.height;
        image.components = size.components;
        const size_t count = static_cast<size_t>(size.width) * size.height * size.components;
        image.pixels.reset(new unsigned char[count]);
        for (size_t i = 0; i < count; ++i) image.pixels[i] = static_cast<unsigned char>(noise());

        size_t bytes = 0;
        const GLuint built = uploadMipmappedImage(image, bytes);
        ASSERT_NE(built, 0u) << what;
        GLuint reference = 0;
        glGenTextures(1, &reference);
        glBindTexture(GL_TEXTURE_2D, reference);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        ASSERT_EQ(gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, size.width, size.height,
                                    size.components == 1 ? GL_LUMINANCE : GL_RGB, GL_UNSIGNED_BYTE,
                                    image.pixels.get()),
                  0)
            << what;

        const auto ours = textureLevels(built);
        const auto glus = textureLevels(reference);
        ASSERT_EQ(ours.size(), glus.size()) << what;
        for (size_t level = 0; level < ours.size(); ++level)
            EXPECT_TRUE(ours[level] == glus[level]) << what << " level " << level;
        GLint width = 0, height = 0;
        glBindTexture(GL_TEXTURE_2D, built);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        EXPECT_EQ(bytes, mipmappedTextureBytes(width, height)) << what;
        GLint minFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR) << what;
        glDeleteTextures(1, &built);
        glDeleteTextures(1, &reference);
    }
    EXPECT_EQ(mipmappedTextureBytes(256, 128), 4u * (256 * 128 + 128 * 64 + 64 * 32 + 32 * 16 + 16 * 8 +
                                                    8 * 4 + 4 * 2 + 2 * 1 + 1));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Textures held by no one wait within the byte budget; beyond it the one
// released longest ago goes first, and a held texture never goes.
TEST_F(TextureRegistry, UnheldTexturesStayWithinTheBudgetLeastRecentlyReleasedFirst) {
    const char* paths[] = {"VESTRALUME/1/1.Quillon", "VESTRALUME/1/2.Quillon", "VESTRALUME/1/3.Quillon",
                           "VESTRALUME/1/4.Quillon", "VESTRALUME/1/5.Quillon"};
    Texture* textures[5];
    for (int k = 0; k < 5; ++k) {
        ASSERT_TRUE(writeSolidJpeg(paths[k], 8, 8, static_cast<unsigned char>(40 * k), 0, 0));
        textures[k] = loadTexture(paths[k]);
    }
    const size_t each = mipmappedTextureBytes(8, 8);
    ASSERT_EQ(textures[0]->bytes, each);
    setUnheldTextureBudget(3 * each);

    releaseTexture(textures[0]);
    releaseTexture(textures[1]);
    releaseTexture(textures[2]);
    EXPECT_EQ(unheldTextureBytes(), 3 * each);
    EXPECT_EQ(textureRegistry.size(), 5u);
    // Taken up and let go again, 1 becomes the most recently released.
    const long decodedBefore = decodeCount;
    EXPECT_EQ(loadTexture(paths[0]), textures[0]);
    EXPECT_EQ(decodeCount, decodedBefore);
    EXPECT_EQ(unheldTextureBytes(), 2 * each);
    releaseTexture(textures[0]);

    const GLuint secondId = static_cast<GLuint>(textures[1]->id);
    releaseTexture(textures[3]);  // one over the budget: 2 goes
    EXPECT_EQ(findTexture(paths[1]), nullptr);
    EXPECT_FALSE(glIsTexture(secondId));
    for (int k : {0, 2, 3, 4}) EXPECT_EQ(findTexture(paths[k]), textures[k]) << paths[k];
    EXPECT_EQ(unheldTextureBytes(), 3 * each);

    // A texture with two holders stays held when one of them lets go.
    EXPECT_EQ(loadTexture(paths[4]), textures[4]);
    releaseTexture(textures[4]);
    setUnheldTextureBudget(0);
    EXPECT_EQ(unheldTextureBytes(), 0u);
    ASSERT_EQ(textureRegistry.size(), 1u);
    EXPECT_EQ(textureRegistry[0], textures[4]);
    EXPECT_EQ(findTextureIndex(paths[4]), 0);
    EXPECT_TRUE(glIsTexture(static_cast<GLuint>(textures[4]->id)));

    // The last holder lets go with no budget at all: it goes at once.
    releaseTexture(textures[4]);
    EXPECT_TRUE(textureRegistry.empty());
}

// A path whose texture was dropped from the budget is read again when it
// comes back, as after a discard: the file's new content, a new texture.
TEST_F(TextureRegistry, ADroppedPathIsDecodedAfreshWhenItComesBack) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/1/7.Quillon", 16, 16, 250, 0, 0));
    Texture* first = loadTexture("VESTRALUME/1/7.Quillon");
    const long firstSerial = first->serial;
    setUnheldTextureBudget(first->bytes);
    releaseTexture(first);
    ASSERT_EQ(findTextureIndex("VESTRALUME/1/7.Quillon"), 0) << "it fits the budget";
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/1/8.Quillon", 16, 16, 0, 250, 0));
    releaseTexture(loadTexture("VESTRALUME/1/8.Quillon"));  // pushes 7 out
    EXPECT_EQ(findTextureIndex("VESTRALUME/1/7.Quillon"), -1);

    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/1/7.Quillon", 16, 16, 0, 0, 250));
    const long decodedBefore = decodeCount;
    Texture* again = loadTexture("VESTRALUME/1/7.Quillon");
    EXPECT_EQ(decodeCount, decodedBefore + 1);
    EXPECT_GT(again->serial, firstSerial);
    EXPECT_EQ(again->holders, 1);
    EXPECT_LT(topLeftRed(*again), 50);
}

TEST_F(TextureRegistry, BrokenFilesRegisterNothingAndDoNotEndTheProgram) {
    for (const BrokenFile& broken : brokenFiles()) {
        const std::string path = std::string("VESTRALUME/2/") + broken.what + ".Quillon";
        if (!broken.missing) writeFile(path, broken.bytes);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(loadTexture(path), nullptr) << broken.what;
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), failureMessage + path + "\n") << broken.what;
        testing::internal::GetCapturedStderr();
    }
    EXPECT_TRUE(textureRegistry.empty());
}

TEST_F(TextureRegistry, PlaceholderStandsInForAThumbnailThatCannotLoad) {
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/7.jpg", 8, 8, 10, 20, 30));
    writeFile("VESTRALUME/1/9.Quillon", "not a picture");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Texture* missing = loadTextureOrPlaceholder("VESTRALUME/1/8.Quillon", 7);
    Texture* damaged = loadTextureOrPlaceholder("VESTRALUME/1/9.Quillon", 7);
    Texture* neither = loadTextureOrPlaceholder("VESTRALUME/1/8.Quillon", 12);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->name, "VESTRALUME/i/7.jpg");
    EXPECT_EQ(damaged, missing);
    EXPECT_EQ(missing->holders, 2);
    EXPECT_EQ(neither, nullptr);
    EXPECT_EQ(out, failureMessage + "VESTRALUME/1/8.Quillon\n" + failureMessage + "VESTRALUME/1/9.Quillon\n" +
                       failureMessage + "VESTRALUME/1/8.Quillon\n" + failureMessage + "VESTRALUME/i/12.jpg\n");
}

TEST_F(TextureRegistry, FiltersAreSetOnOneTextureOrOnAll) {
    setTextureFilters(-1, GL_NEAREST, GL_NEAREST);  // empty registry: nothing to set
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/1.jpg", 8, 8, 10, 20, 30));
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/i/2.jpg", 8, 8, 10, 20, 30));
    Texture* one = loadTexture("VESTRALUME/i/1.jpg");
    Texture* two = loadTexture("VESTRALUME/i/2.jpg");
    auto filtersOf = [](const Texture* texture) {
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture->id));
        GLint minFilter = 0, magFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        return std::make_pair(minFilter, magFilter);
    };
    setTextureFilters(-1, GL_LINEAR, GL_NEAREST);
    EXPECT_EQ(filtersOf(one), std::make_pair(GL_LINEAR, GL_NEAREST));
    EXPECT_EQ(filtersOf(two), std::make_pair(GL_LINEAR, GL_NEAREST));
    setTextureFilters(two->id, GL_NEAREST_MIPMAP_NEAREST, GL_LINEAR);
    EXPECT_EQ(filtersOf(one), std::make_pair(GL_LINEAR, GL_NEAREST));
    EXPECT_EQ(filtersOf(two), std::make_pair(GL_NEAREST_MIPMAP_NEAREST, GL_LINEAR));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

// A failed load leaves the decision to the caller: it yields nullptr after
// the message reached standard output (the viewer then ends with status 1
// when the image is one it cannot start without; scene/wall.h). Nothing is
// uploaded, so no OpenGL is needed.
TEST(LoadTextureFailure, MissingAndDamagedYieldNothingAfterTheMessage) {
    for (const bool damaged : {false, true}) {
        ScratchRoot root;
        std::filesystem::create_directories("VESTRALUME/i");
        const std::string image = damaged ? "VESTRALUME/i/damaged.jpg" : "VESTRALUME/i/missing.jpg";
        if (damaged) writeFile(image, "GIF89a not a jpeg at all");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Texture* texture = loadTexture(image);
        const std::string output = testing::internal::GetCapturedStdout();
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(texture, nullptr) << image;
        EXPECT_EQ(output, failureMessage + image + "\n");
        if (damaged) {
            EXPECT_NE(errors.find("Not a JPEG file"), std::string::npos) << errors;
        }
        EXPECT_EQ(findTexture(image), nullptr);
    }
}

}  // namespace
