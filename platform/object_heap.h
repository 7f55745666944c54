// Creating and destroying heap objects without a throwing operator new. Objects made here
// are released by their own destroy(), which calls destroyObject on their exact type.
#pragma once
#include <new>
#include <utility>

#include "platform/platform.h"

template <class T, class... Args> T *createObject(Args &&...args)
{
    void *memory = allocateObject(sizeof(T));
    if (!memory)
        return nullptr;
    return new (memory) T(std::forward<Args>(args)...);
}

template <class T> void destroyObject(T *object)
{
    object->~T();
    releaseObject(object);
}
