// Encoding takes pictures, not the drawing stage that makes them.
#include "drawing/FrameScan.h"
