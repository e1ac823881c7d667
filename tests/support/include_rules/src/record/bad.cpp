#include "record/extremes.h"
#include "display/geometry.h"
