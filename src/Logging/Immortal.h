#pragma once
// Process-wide instances that are never destroyed. Objects of other files may
// log from their destructors at exit, after an ordinary static of this library
// would already be gone; these stay usable until the process ends.

#include <new>

namespace Basalt {
namespace internal {

template <typename T>
T& immortal()
{
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* const instance = ::new (static_cast<void*>(storage)) T();
    return *instance;
}

} // namespace internal
} // namespace Basalt
