#include "app/core/PathSeparators.h"

const char* const PathSeparators = "\\/";
