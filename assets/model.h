// Wavefront OBJ models with MTL material libraries, and drawing them.
#pragma once

#include <string>
#include <vector>

// One polygon of a model.
struct Face {
    int cornerCount = 0;
    std::vector<int> vertexIndices;    // zero-based positions in Model::vertices
    std::vector<int> normalIndices;    // empty when no corner names a normal
    std::vector<int> texcoordIndices;  // empty when no corner names a texture coordinate
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

// One loaded mesh.
struct Model {
    int vertexCount = 0;
    int faceCount = 0;
    int normalCount = 0;
    int texcoordCount = 0;
    bool hasNormals = false;
    bool hasMaterialLibrary = false;
    int textureOverride = -1;  // drawn on every face instead of the faces' own textures
    std::vector<float> vertices;   // 3 per vertex
    std::vector<float> normals;    // 3 per normal (or per face when computed)
    std::vector<Face> faces;
    std::vector<float> texcoords;  // 3 per texture coordinate
};

// Every material read so far, in read order; the first definition of a name wins.
extern std::vector<Material*> materialRegistry;

// Reads one OBJ file; prints the loader's report lines. nullptr when the file
// cannot be opened.
Model* loadModel(const std::string& path);

// Reads one MTL file into the material registry.
void loadMaterialLibrary(const std::string& path);

// Position of the first material named exactly `name`, or -1.
int findMaterialIndex(const std::string& name);

// Draws every face of the model once with the current transformation.
void drawModel(const Model& model);
