// The viewer's names for the files of the data root live in the data-root
// library shared with the tools.
#pragma once

#include "catalogue/data_root.h"
