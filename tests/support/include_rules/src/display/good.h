#include "record/extremes.h"
