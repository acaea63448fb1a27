// The viewer's names for the files of the data root live in the data-root
// library shared with the tools.
#pragma once

#include "dataroot/data_root.h"
