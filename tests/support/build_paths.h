// Where the build found its source tree, keeps its outputs and runs Python,
// for the tests that read the tree's data or run the build's programs. The
// values live in one small file the build writes (build_paths.cpp in the
// build folder), so no other test object holds a path of this checkout and
// ccache shares those objects between checkouts in different folders.
// tests/CMakeLists.txt puts this header before the sources of the tests that
// use the names below (quillon_test_paths).
#pragma once

extern const char quillonSourceDir[];
extern const char quillonBinaryDir[];
extern const char quillonCardCache[];
extern const char quillonSampleRoot[];
extern const char quillonPython[];

#define QUILLON_SOURCE_DIR quillonSourceDir
#define QUILLON_BINARY_DIR quillonBinaryDir
#define QUILLON_CARD_CACHE quillonCardCache
#define QUILLON_SAMPLE_ROOT quillonSampleRoot
#define QUILLON_PYTHON quillonPython
