// The parsers end the process only when memory for a material runs out.
// The fuzz targets carry this stand-in for the operating-system layer
// instead of the real one, so that they need nothing beyond the parsers.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

void endProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}
