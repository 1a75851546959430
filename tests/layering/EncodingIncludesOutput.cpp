// Encoding turns pictures into bytes; where the bytes go is the output stage's.
#include "output/EventFiles.h"
