// The system headers that the file code in base needs on each platform. Included by
// base's sources only.
#pragma once

#ifdef _WIN32
#include <chrono>
#include <thread>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
