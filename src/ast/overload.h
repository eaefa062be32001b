// Kept for files that include it from here; the overload set lives in
// support/overload.h, which the types use as well as the trees.
#pragma once

#include "support/overload.h"
