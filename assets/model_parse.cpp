// Reading Wavefront OBJ models and MTL material libraries. No OpenGL here:
// images named by a model reach the texture registry through the loader the
// caller passes, so the parser can be exercised on its own.
//
// Model files come from anywhere, so nothing in them is trusted:
// - lines and names of any length are kept whole;
// - a carriage return before a line break (or at the end of the file) is
//   dropped; the last line is read whether or not it ends with a line break;
// - face corners are separated by any run of blanks, and a face may have any
//   number of corners; it stays one polygon;
// - a corner index is one-based, or negative to count back from the last
//   element read before the face line (-1 is the latest vertex), as in other
//   OBJ readers; an index of any length is read whole;
// - a face whose index is zero, not a whole number, or outside its array, or
//   whose corner has more than three indices, or that has fewer than three
//   corners, is left out with a report line, so no face can make the drawing
//   read outside an array;
// - a texture coordinate or normal index given by some corners of a face but
//   not by all is not kept for that face: the face is drawn without texture
//   coordinates (so untextured) or with its computed face normal.
#include "assets/model.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "assets/file_bytes.h"
#include "platform/report.h"

std::vector<Material*> materialRegistry;

namespace {

bool startsWith(std::string_view line, std::string_view keyword) {
    return line.substr(0, keyword.size()) == keyword;
}

// The text after a keyword of `length` characters and its one separator.
std::string_view argumentOf(std::string_view line, size_t length) {
    return line.size() > length + 1 ? line.substr(length + 1) : std::string_view();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The lines of a file's text, line breaks ("\n" or "\r\n") removed.
std::vector<std::string_view> splitLines(const std::string& text) {
    std::vector<std::string_view> lines;
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return lines;
}

// sscanf over one line (the line itself is not zero-terminated).
template <typename... Values>
void scanLine(std::string_view line, const char* format, Values*... values) {
    const std::string copy(line);
    std::sscanf(copy.c_str(), format, values...);
}

// Zero-based position of an index as written, or -1 when it names nothing:
// `readSoFar` elements precede the face line, `total` are in the file.
int resolveIndex(int written, int readSoFar, int total) {
    if (written > 0) return written <= total ? written - 1 : -1;
    if (written < 0 && written != noFaceIndex && readSoFar + written >= 0) return readSoFar + written;
    return -1;
}

// A damaged model can hold millions of bad face lines: the first ones are
// reported line by line, the rest only counted.
constexpr int reportedDroppedFaces = 50;

// Reads the corners of one face line into `face`: `readSoFar` counts the
// elements before the line, `total` those of the file. The reason when the
// face is to be left out, else nullptr.
const char* readFace(const std::vector<std::string_view>& corners, const ModelCounts& readSoFar,
                     const ModelCounts& total, Face& face) {
    std::vector<int> texcoords, normals;
    size_t texcoordCorners = 0, normalCorners = 0;
    for (std::string_view corner : corners) {
        const std::vector<std::string_view> indices = cornerIndexTexts(corner);
        if (indices.size() > 3) return "canto com mais de três índices";
        const int vertex = faceIndexValue(indices[0]);
        const int texcoord = indices.size() > 1 ? faceIndexValue(indices[1]) : noFaceIndex;
        const int normal = indices.size() > 2 ? faceIndexValue(indices[2]) : noFaceIndex;
        const int v = resolveIndex(vertex, readSoFar.vertices, total.vertices);
        const int t = resolveIndex(texcoord, readSoFar.texcoords, total.texcoords);
        const int n = resolveIndex(normal, readSoFar.normals, total.normals);
        if (v < 0 || (texcoord != noFaceIndex && t < 0) || (normal != noFaceIndex && n < 0))
            return "índice inválido";
        face.vertexIndices.push_back(v);
        texcoords.push_back(t);
        normals.push_back(n);
        texcoordCorners += t >= 0;
        normalCorners += n >= 0;
    }
    const size_t count = face.vertexIndices.size();
    if (count < 3) return "menos de três cantos";
    if (texcoordCorners == count) face.texcoordIndices = std::move(texcoords);
    if (normalCorners == count) face.normalIndices = std::move(normals);
    return nullptr;
}

struct Bounds {
    float low[3] = {0, 0, 0};
    float high[3] = {0, 0, 0};
    bool seen = false;

    void include(const float* point) {
        for (int i = 0; i < 3; ++i) {
            if (!seen || point[i] < low[i]) low[i] = point[i];
            if (!seen || point[i] > high[i]) high[i] = point[i];
        }
        seen = true;
    }
};

// The keyword of a line, and how many characters it takes.
ModelLineKind lineKind(std::string_view line, size_t& keywordLength) {
    static const struct {
        std::string_view keyword;
        ModelLineKind kind;
    } keywords[] = {
        {"#", ModelLineKind::comment},      {"mtllib", ModelLineKind::materialLibrary},
        {"usemtl", ModelLineKind::material}, {"usemat", ModelLineKind::image},
        {"v ", ModelLineKind::vertex},       {"vn ", ModelLineKind::normal},
        {"vt ", ModelLineKind::texcoord},    {"f ", ModelLineKind::face},
    };
    for (const auto& entry : keywords)
        if (startsWith(line, entry.keyword)) {
            // A keyword ending in its separator ("v ") is followed by its
            // argument; the others ("mtllib") by one separator first.
            keywordLength = entry.keyword.back() == ' ' ? entry.keyword.size() - 1 : entry.keyword.size();
            return entry.kind;
        }
    keywordLength = 0;
    return ModelLineKind::other;
}

Model* readModel(const std::string& text, ModelImageLoader loadImage, MaterialLibraryLoader loadLibrary,
                 const ModelReadWatch& watch) {
    const std::vector<std::string_view> lines = splitLines(text);

    // Counting pass: every array is sized before the lines are read.
    ModelCounts total;
    for (std::string_view line : lines) {
        if (startsWith(line, "v ")) ++total.vertices;
        else if (startsWith(line, "f ")) ++total.faceLines;
        else if (startsWith(line, "vn ")) ++total.normals;
        else if (startsWith(line, "vt ")) ++total.texcoords;
    }
    reportFormatted(ReportLevel::note, "Vertices: %d", total.vertices);
    reportFormatted(ReportLevel::note, "Faces:    %d", total.faceLines);
    reportFormatted(ReportLevel::note, "Normais:  %d", total.normals);
    reportFormatted(ReportLevel::note, "Texcoords:%d", total.texcoords);
    if (watch.onCounted) watch.onCounted(total);

    std::unique_ptr<Model> model(new Model);
    model->vertices.assign(static_cast<size_t>(total.vertices) * 3, 0.0f);
    model->normals.assign(static_cast<size_t>(total.normals) * 3, 0.0f);
    model->texcoords.assign(static_cast<size_t>(total.texcoords) * 3, 0.0f);
    model->faces.reserve(static_cast<size_t>(total.faceLines));

    ModelCounts read;
    int material = -1;
    int texture = -1;
    Bounds bounds;
    int droppedFaces = 0;
    ModelLine line;
    for (std::string_view lineText : lines) {
        ++line.number;
        size_t keywordLength = 0;
        line.kind = lineKind(lineText, keywordLength);
        line.text = lineText;
        line.argument = argumentOf(lineText, keywordLength);
        line.corners.clear();
        if (line.kind == ModelLineKind::face) line.corners = faceCorners(line.argument);
        if (watch.onLine) watch.onLine(line);
        switch (line.kind) {
        case ModelLineKind::comment:
        case ModelLineKind::other:
            break;
        case ModelLineKind::materialLibrary:
            loadLibrary(std::string(line.argument));
            model->hasMaterialLibrary = true;
            break;
        case ModelLineKind::material:
            material = findMaterialIndex(std::string(line.argument));
            texture = -1;
            break;
        case ModelLineKind::image: {
            const std::string image(line.argument);
            texture = image == "(null)" ? -1 : loadImage(image);
            if (texture == stopModelReading) return nullptr;
            break;
        }
        case ModelLineKind::vertex: {
            float* vertex = &model->vertices[static_cast<size_t>(read.vertices++) * 3];
            scanLine(lineText, "v %f %f %f", &vertex[0], &vertex[1], &vertex[2]);
            bounds.include(vertex);
            break;
        }
        case ModelLineKind::normal: {
            float* normal = &model->normals[static_cast<size_t>(read.normals++) * 3];
            scanLine(lineText, "vn %f %f %f", &normal[0], &normal[1], &normal[2]);
            model->hasNormals = true;
            break;
        }
        case ModelLineKind::texcoord: {
            float* texcoord = &model->texcoords[static_cast<size_t>(read.texcoords++) * 3];
            scanLine(lineText, "vt %f %f %f", &texcoord[0], &texcoord[1], &texcoord[2]);
            break;
        }
        case ModelLineKind::face: {
            Face face;
            face.material = material;
            face.texture = texture;
            if (const char* problem = readFace(line.corners, read, total, face)) {
                if (++droppedFaces <= reportedDroppedFaces)
                    reportFormatted(ReportLevel::note, "Face ignorada na linha %d: %s", line.number, problem);
            } else {
                model->faces.push_back(std::move(face));
            }
            break;
        }
        }
    }
    if (droppedFaces > reportedDroppedFaces)
        reportFormatted(ReportLevel::note, "Mais %d faces ignoradas", droppedFaces - reportedDroppedFaces);
    reportFormatted(ReportLevel::note, "Limites: %f %f %f - %f %f %f", bounds.low[0], bounds.low[1],
                    bounds.low[2], bounds.high[0], bounds.high[1], bounds.high[2]);
    if (!model->hasNormals) computeFaceNormals(*model);
    return model.release();
}

// Creates and registers a material named `name`. Running out of memory
// (std::bad_alloc) is caught in parseMaterialLibrary.
Material* addMaterial(std::string_view name) {
    Material* material = new Material;
    material->name.assign(name);
    materialRegistry.push_back(material);
    material->emission[0] = material->emission[1] = material->emission[2] = 0;
    return material;
}

}  // namespace

int parseFaceIndex(std::string_view& cursor, char& separator) {
    size_t end = 0;
    while (end < cursor.size() && cursor[end] != '/' && !isBlank(cursor[end])) ++end;
    const std::string_view token = cursor.substr(0, end);
    separator = end < cursor.size() ? cursor[end] : '\0';
    cursor.remove_prefix(end < cursor.size() ? end + 1 : end);
    return faceIndexValue(token);
}

int faceIndexValue(std::string_view token) {
    if (token.empty()) return noFaceIndex;
    const bool negative = token.front() == '-';
    if (negative || token.front() == '+') token.remove_prefix(1);
    if (token.empty()) return 0;
    long long value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

std::vector<std::string_view> faceCorners(std::string_view text) {
    std::vector<std::string_view> corners;
    for (;;) {
        while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
        if (text.empty()) return corners;
        size_t end = 0;
        while (end < text.size() && !isBlank(text[end])) ++end;
        corners.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
}

std::vector<std::string_view> cornerIndexTexts(std::string_view corner) {
    std::vector<std::string_view> texts;
    for (;;) {
        const size_t slash = corner.find('/');
        texts.push_back(corner.substr(0, slash));
        if (slash == std::string_view::npos) return texts;
        corner.remove_prefix(slash + 1);
    }
}

void faceNormal(const Model& model, const Face& face, float normal[3]) {
    normal[0] = normal[1] = normal[2] = 0;
    if (face.vertexIndices.size() < 3) return;
    const float* p[3];
    for (int i = 0; i < 3; ++i) {
        const size_t at = static_cast<size_t>(face.vertexIndices[i]) * 3;
        if (face.vertexIndices[i] < 0 || at + 3 > model.vertices.size()) return;
        p[i] = &model.vertices[at];
    }
    const float a[3] = {p[2][0] - p[1][0], p[2][1] - p[1][1], p[2][2] - p[1][2]};
    const float b[3] = {p[0][0] - p[1][0], p[0][1] - p[1][1], p[0][2] - p[1][2]};
    normal[0] = a[1] * b[2] - a[2] * b[1];
    normal[1] = a[2] * b[0] - a[0] * b[2];
    normal[2] = a[0] * b[1] - a[1] * b[0];
    const float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (length != 0) {
        for (int i = 0; i < 3; ++i) normal[i] /= length;
    }
}

void computeFaceNormals(Model& model) {
    model.faceNormals.assign(model.faces.size() * 3, 0.0f);
    for (size_t i = 0; i < model.faces.size(); ++i) faceNormal(model, model.faces[i], &model.faceNormals[i * 3]);
}

Model* parseModel(const std::string& text, ModelImageLoader loadImage, MaterialLibraryLoader loadLibrary,
                  const ModelReadWatch& watch) {
    try {
        return readModel(text, loadImage, loadLibrary, watch);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int findMaterialIndex(const std::string& name) {
    for (size_t i = 0; i < materialRegistry.size(); ++i)
        if (materialRegistry[i]->name == name) return static_cast<int>(i);
    return -1;
}

namespace {

void readMaterials(const std::string& text) {
    Material* current = nullptr;
    for (std::string_view line : splitLines(text)) {
        if (startsWith(line, "#")) continue;
        if (startsWith(line, "newmtl")) {
            // The first definition of a name wins; a later entry changes nothing.
            const std::string name(argumentOf(line, 6));
            current = findMaterialIndex(name) >= 0 ? nullptr : addMaterial(name);
        } else if (!current) {
            continue;
        } else if (startsWith(line, "Ka ")) {
            scanLine(line, "Ka %f %f %f", &current->ambient[0], &current->ambient[1], &current->ambient[2]);
        } else if (startsWith(line, "Kd ")) {
            scanLine(line, "Kd %f %f %f", &current->diffuse[0], &current->diffuse[1], &current->diffuse[2]);
        } else if (startsWith(line, "Ks ")) {
            scanLine(line, "Ks %f %f %f", &current->specular[0], &current->specular[1], &current->specular[2]);
        } else if (startsWith(line, "Ns ")) {
            float exponent = 0;
            scanLine(line, "Ns %f", &exponent);
            // The MTL range 0..1000 onto OpenGL's 0..128, which refuses
            // anything outside it.
            float shininess = exponent / 1000 * 128;
            if (!(shininess >= 0)) shininess = 0;
            if (shininess > 128) shininess = 128;
            current->shininess = shininess;
        } else if (startsWith(line, "d ")) {
            float alpha = 1;
            scanLine(line, "d %f", &alpha);
            current->ambient[3] = current->diffuse[3] = current->specular[3] = alpha;
        }
    }
}

}  // namespace

bool parseMaterialLibrary(const std::string& text) {
    try {
        readMaterials(text);
        return true;
    } catch (const std::bad_alloc&) {
        report(ReportLevel::note, "Sem memória para novo material!");
        return false;
    }
}

bool loadMaterialLibrary(const std::string& path) {
    std::string text;
    const FileOutcome outcome = readAssetFile(path, tableFileLimit, text);
    if (outcome != fileRead) {
        reportUnreadableAsset(path, outcome, tableFileLimit);
        return true;
    }
    return parseMaterialLibrary(text);
}
