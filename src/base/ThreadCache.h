// Objects a worker thread keeps from one task to the next (buffers, a compressor), freed
// when the thread's work ends.
//
// Not a thread_local with a destructor: with mingw-w64's emulated thread-local storage a
// thread's storage can be freed before the destructors of its thread_local objects run, and
// one of them then frees what is no longer there (pelldrin-render.exe crashed so at an
// encoder thread's end, in about one run in ten). A thread reaches its objects through plain
// pointers instead, and a ThreadCacheScope on the stack of the thread's function frees them
// before the thread ends. The objects of a thread without a scope last until the program ends.
#pragma once

#include <functional>
#include <vector>

namespace pelldrin {

namespace detail {

// What frees this thread's objects, newest last.
inline std::vector<std::function<void()>>*& ThreadCacheCleanups() {
    thread_local std::vector<std::function<void()>>* cleanups = nullptr;
    return cleanups;
}

} // namespace detail

// This thread's object of type T (one per type: give each use a type of its own), made on
// first use.
template <class T> T& ThreadCache() {
    thread_local T* object = nullptr;
    if (object == nullptr) {
        std::vector<std::function<void()>>*& cleanups = detail::ThreadCacheCleanups();
        if (cleanups == nullptr) {
            cleanups = new std::vector<std::function<void()>>();
        }
        cleanups->reserve(cleanups->size() + 1);
        object = new T();
        T** slot = &object;
        cleanups->push_back([slot] {
            delete *slot;
            *slot = nullptr;
        });
    }
    return *object;
}

// Frees, as it ends, the objects that its thread made through ThreadCache.
class ThreadCacheScope {
  public:
    ThreadCacheScope() = default;
    ~ThreadCacheScope() {
        std::vector<std::function<void()>>*& cleanups = detail::ThreadCacheCleanups();
        if (cleanups == nullptr) {
            return;
        }
        for (auto it = cleanups->rbegin(); it != cleanups->rend(); ++it) {
            (*it)();
        }
        delete cleanups;
        cleanups = nullptr;
    }
    ThreadCacheScope(const ThreadCacheScope&) = delete;
    ThreadCacheScope& operator=(const ThreadCacheScope&) = delete;
};

} // namespace pelldrin
