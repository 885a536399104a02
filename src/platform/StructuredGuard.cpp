#include "platform/StructuredGuard.h"

namespace {

// Faults and traps: error and warning severities. Codes with the customer bit set (C++
// exceptions, say) and informational ones are a library's own business.
BOOL IsContainedException(DWORD dwExceptionCode) {
    return (dwExceptionCode & 0x80000000) != 0 && (dwExceptionCode & 0x20000000) == 0;
}

}  // namespace

#if defined(_MSC_VER)

namespace {

int FilterException(DWORD dwExceptionCode, PFN_EXCEPTION_FILTER pfnFilter) {
    if (!IsContainedException(dwExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    pfnFilter(dwExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext,
                             PFN_EXCEPTION_FILTER pfnFilter) {
    __try {
        pfnBody(pContext);
    } __except (FilterException(GetExceptionCode(), pfnFilter)) {
        return FALSE;
    }
    return TRUE;
}

#else

#include <setjmp.h>

namespace {

// GCC has no __try: a vectored handler, present only while a guarded body runs, takes the
// exception on the owning thread and resumes at the point saved before the body started.
struct GUARD_FRAME {
    jmp_buf resume;
    DWORD dwThreadId;
    PFN_EXCEPTION_FILTER pfnFilter;
    GUARD_FRAME* pOuter;
};

// The innermost guarded body running, or NULL: a vectored handler gets no context of its own.
GUARD_FRAME* g_pActiveGuard = NULL;

LONG CALLBACK ResumeAfterException(PEXCEPTION_POINTERS pExceptionInfo) {
    GUARD_FRAME* pFrame = g_pActiveGuard;
    const DWORD dwExceptionCode = pExceptionInfo->ExceptionRecord->ExceptionCode;
    if (pFrame == NULL || pFrame->dwThreadId != GetCurrentThreadId() ||
        !IsContainedException(dwExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    pFrame->pfnFilter(dwExceptionCode);
    longjmp(pFrame->resume, 1);
}

}  // namespace

BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext,
                             PFN_EXCEPTION_FILTER pfnFilter) {
    GUARD_FRAME frame;
    frame.dwThreadId = GetCurrentThreadId();
    frame.pfnFilter = pfnFilter;
    frame.pOuter = g_pActiveGuard;
    PVOID hHandler = AddVectoredExceptionHandler(1, ResumeAfterException);
    if (hHandler == NULL) {
        // Without a handler there is no guard to offer; the call still has to happen.
        pfnBody(pContext);
        return TRUE;
    }
    volatile BOOL bCompleted = FALSE;
    if (setjmp(frame.resume) == 0) {
        g_pActiveGuard = &frame;
        pfnBody(pContext);
        bCompleted = TRUE;
    }
    g_pActiveGuard = frame.pOuter;
    RemoveVectoredExceptionHandler(hHandler);
    return bCompleted;
}

#endif
