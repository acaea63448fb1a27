// Wavefront OBJ models with MTL material libraries, and drawing them.
#pragma once

#include <climits>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One polygon of a model.
struct Face {
    std::vector<int> vertexIndices;    // one per corner: zero-based positions in Model::vertices
    std::vector<int> normalIndices;    // one per corner; empty unless every corner names a normal
    std::vector<int> texcoordIndices;  // one per corner; empty unless every corner names a texture coordinate
    int material = -1;                 // position in materialRegistry, or -1
    int texture = -1;                  // OpenGL texture name of the face's own image, or -1
};

// One entry of a material library.
struct Material {
    std::string name;
    float ambient[4] = {0, 0, 0, 1};
    float diffuse[4] = {0, 0, 0, 1};
    float specular[4] = {0, 0, 0, 1};
    float emission[4] = {0, 0, 0, 1};
    float shininess = 0;
};

// The corners of a face: its vertex indices.
inline int cornerCount(const Face& face) { return static_cast<int>(face.vertexIndices.size()); }

// One loaded mesh. It owns its parts, and how many of each it has is the
// size of their array: nothing beside the arrays can disagree with them.
// Drawing does not change it, so one model can be drawn with different
// textures (drawModel).
struct Model {
    bool hasNormals = false;         // the file gives normals ("vn" lines)
    bool hasMaterialLibrary = false;
    std::vector<float> vertices;     // 3 per vertex
    std::vector<float> normals;      // 3 per normal of the file
    std::vector<float> faceNormals;  // 3 per face, computed when the file gives no normals
    std::vector<Face> faces;         // the faces kept (a face line the loader refuses is left out)
    std::vector<float> texcoords;    // 3 per texture coordinate
};

inline int vertexCount(const Model& model) { return static_cast<int>(model.vertices.size() / 3); }
inline int normalCount(const Model& model) { return static_cast<int>(model.normals.size() / 3); }
inline int texcoordCount(const Model& model) { return static_cast<int>(model.texcoords.size() / 3); }
inline int faceCount(const Model& model) { return static_cast<int>(model.faces.size()); }

// Every material read so far, in read order; the first definition of a name wins.
extern std::vector<Material*> materialRegistry;

// Why loadModel yielded no model, or modelLoaded.
enum ModelLoadOutcome {
    modelLoaded,
    modelFileUnreadable,   // missing, or not readable as dataroot/safe_file.h says
    modelImageUnloadable,  // an image named by a "usemat" line could not be loaded
    modelOutOfMemory,      // for the model or for a material of its library
};

// Reads one OBJ file, reporting the loader's lines as notes
// (platform/report.h). nullptr when the file cannot be read
// (dataroot/safe_file.h: a data-root path, a regular file of at most
// tableFileLimit bytes), when an image named by a "usemat" line cannot be
// loaded with loadTexture (reading stops there), or when memory runs out;
// `outcome`, when given, says which.
Model* loadModel(const std::string& path, ModelLoadOutcome* outcome = nullptr);

// Reads one MTL file into the material registry; one that cannot be read (as
// for loadModel) adds nothing. false only when memory ran out (reported).
bool loadMaterialLibrary(const std::string& path);

// How a model being read turns the path of a "usemat" line into a texture
// name, and reads the library of an "mtllib" line. loadModel passes its own
// over loadTexture and loadMaterialLibrary; tests, fuzzing and the data-root
// checker pass their own. An image loader that yields stopModelReading ends
// the reading: parseModel then yields nullptr and reports nothing more.
using ModelImageLoader = std::function<int(const std::string& path)>;
using MaterialLibraryLoader = std::function<void(const std::string& path)>;
constexpr int stopModelReading = INT_MIN;

// How many elements of each kind a model file holds: the parser counts them
// before it reads a line, so an index can be judged against the whole file.
struct ModelCounts {
    int vertices = 0;   // "v " lines
    int texcoords = 0;  // "vt " lines
    int normals = 0;    // "vn " lines
    int faceLines = 0;  // "f " lines, kept or not
};

// What a line of a model file is to the parser: its keyword.
enum class ModelLineKind { comment, materialLibrary, material, image, vertex, normal, texcoord, face, other };

// One line of a model file as the parser reads it.
struct ModelLine {
    int number = 0;  // one-based
    ModelLineKind kind = ModelLineKind::other;
    std::string_view text;                  // the whole line, its line break removed
    std::string_view argument;              // what follows the keyword and its one separator
    std::vector<std::string_view> corners;  // a face's corners, split as the parser splits them
};

// Lets a reader that judges a model file rather than draws it (the data-root
// checker) see the file through the parser: the counts before the first
// line, then every line in order, each before the parser acts on it.
struct ModelReadWatch {
    std::function<void(const ModelCounts& counts)> onCounted;
    std::function<void(const ModelLine& line)> onLine;
};

// Reads an OBJ model from its text, reporting as notes the lines that follow
// "*** Objeto" (counts, dropped faces, bounds): the first 50 dropped faces
// line by line, then how many more. nullptr when memory runs out. `watch`
// sees every line as it is read.
Model* parseModel(const std::string& text, ModelImageLoader loadImage,
                  MaterialLibraryLoader loadLibrary, const ModelReadWatch& watch = {});

// The corners of a face line's text (what follows "f "): separated by any
// run of blanks.
std::vector<std::string_view> faceCorners(std::string_view text);

// The index texts of one corner, in order: the vertex's, then the texture
// coordinate's and the normal's when "/" separates them ("1//3" gives "1",
// "" and "3"). A corner with more than three leaves its face out.
std::vector<std::string_view> cornerIndexTexts(std::string_view corner);

// Reads an MTL library from its text into the material registry. false when
// memory ran out ("Sem memória para novo material!" is reported).
bool parseMaterialLibrary(const std::string& text);

// What parseFaceIndex yields for an empty index ("1//3" has no texture
// coordinate index).
constexpr int noFaceIndex = INT_MIN;

// Reads one index of a face corner from the front of `cursor`: the characters
// up to a "/", white space or the end. Moves `cursor` past them and past the
// character that ended them, which goes to `separator` ('\0' at the end).
// Yields faceIndexValue of those characters.
int parseFaceIndex(std::string_view& cursor, char& separator);

// The index a corner's index text writes: one-based, or negative counting
// back from the last element read; noFaceIndex when the text is empty, and 0
// (never a valid index) when it is not a whole number that fits an int.
int faceIndexValue(std::string_view text);

// Fills `faceNormals` with one unit normal per face (see faceNormal).
void computeFaceNormals(Model& model);

// The unit normal of the face's first three corners, (p2 - p1) x (p0 - p1);
// the zero vector when they are in line or the face has fewer corners.
void faceNormal(const Model& model, const Face& face, float normal[3]);

// Position of the first material named exactly `name`, or -1.
int findMaterialIndex(const std::string& name);

// Draws every face of the model once with the current transformation; with
// a `textureOverride` (an OpenGL texture name, not -1) every face that has
// texture coordinates shows it instead of its own image.
void drawModel(const Model& model, int textureOverride = -1);
