// base sits below everything: it cannot reach the task script builder.
#include "script/TaskScript.h"
