#pragma once

#include <windows.h>

typedef void (*PFN_GUARDED_BODY)(void* pContext);
typedef void (*PFN_EXCEPTION_FILTER)(DWORD dwExceptionCode);

// Runs pfnBody(pContext) so that a structured exception raised inside it (an access violation
// in a foreign library, say) does not end the process: pfnFilter is told the exception's code
// and FALSE is returned. TRUE when the body ran to its end. Exceptions raised anywhere else,
// and those a library raises for its own handlers (C++ exceptions, debugger notifications),
// pass by untouched.
BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext,
                             PFN_EXCEPTION_FILTER pfnFilter);
