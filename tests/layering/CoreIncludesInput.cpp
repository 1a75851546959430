// The renderer's core sits below its input stage.
#include "input/SubtitleTrack.h"
