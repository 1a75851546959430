// The system headers that the file code in base needs on each platform, and the
// process id call that each names differently. Included by base's sources only.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <chrono>
#include <process.h>
#include <thread>
#include <windows.h>
#define PELLDRIN_GETPID _getpid
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define PELLDRIN_GETPID getpid
#endif
