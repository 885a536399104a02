// Structured exceptions on the simulated machine: vectored handlers, and RaiseException
// offering an exception to them in order. What no handler takes would end the process on
// Windows; here it becomes a C++ exception a test can see.
#include "Internal.h"

using sim::Machine;

extern "C" {

PVOID WINAPI AddVectoredExceptionHandler(ULONG First, PVECTORED_EXCEPTION_HANDLER Handler) {
    Machine::Kernel& kernel = Machine::Current().kernel();
    if (auto error = SIM_FAULT("AddVectoredExceptionHandler", "")) {
        SetLastError(*error);
        return NULL;
    }
    const Machine::Kernel::VectoredHandler entry{kernel.nNextHandlerId, Handler};
    kernel.nNextHandlerId += 0x10;
    if (First != 0) {
        kernel.vectoredHandlers.insert(kernel.vectoredHandlers.begin(), entry);
    } else {
        kernel.vectoredHandlers.push_back(entry);
    }
    return reinterpret_cast<PVOID>(entry.nId);
}

ULONG WINAPI RemoveVectoredExceptionHandler(PVOID Handle) {
    auto& handlers = Machine::Current().kernel().vectoredHandlers;
    for (auto it = handlers.begin(); it != handlers.end(); ++it) {
        if (it->nId == reinterpret_cast<uintptr_t>(Handle)) {
            handlers.erase(it);
            return 1;
        }
    }
    return 0;
}

void WINAPI RaiseException(DWORD dwExceptionCode, DWORD dwExceptionFlags, DWORD nNumberOfArguments,
                           const ULONG_PTR* lpArguments) {
    // Nothing here may need destroying: a handler may leave this frame by longjmp.
    EXCEPTION_RECORD record;
    memset(&record, 0, sizeof(record));
    record.ExceptionCode = dwExceptionCode;
    record.ExceptionFlags = dwExceptionFlags;
    record.NumberParameters = nNumberOfArguments < EXCEPTION_MAXIMUM_PARAMETERS
                                  ? nNumberOfArguments
                                  : EXCEPTION_MAXIMUM_PARAMETERS;
    for (DWORD i = 0; lpArguments != NULL && i < record.NumberParameters; ++i) {
        record.ExceptionInformation[i] = lpArguments[i];
    }
    CONTEXT context;
    memset(&context, 0, sizeof(context));
    EXCEPTION_POINTERS pointers = {&record, &context};

    Machine::Kernel& kernel = Machine::Current().kernel();
    for (size_t i = 0; i < kernel.vectoredHandlers.size(); ++i) {
        if (kernel.vectoredHandlers[i].pfnHandler(&pointers) == EXCEPTION_CONTINUE_EXECUTION) {
            return;
        }
    }
    throw sim::UnhandledStructuredException{dwExceptionCode};
}

}  // extern "C"
