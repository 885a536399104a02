#pragma once

#include <windows.h>

#include <memory>

struct CHandleDeleter {
    void operator()(HANDLE hObject) const {
        if (hObject != INVALID_HANDLE_VALUE) {
            CloseHandle(hObject);
        }
    }
};
// A kernel object handle (process, thread, file), closed when the owner goes out of scope.
using CUniqueHandle = std::unique_ptr<void, CHandleDeleter>;
