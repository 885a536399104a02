#pragma once

#include <windows.h>

typedef void (*PFN_GUARDED_BODY)(void* pContext);

// Runs pfnBody(pContext) as __try { pfnBody(pContext); } __except (EXCEPTION_EXECUTE_HANDLER)
// would: a structured exception that the body, and the foreign code it calls, leave unhandled
// stops here instead of ending the process. The frames in between are unwound, FALSE is
// returned and the exception's code stored in *pdwExceptionCode. Exceptions the called code
// handles itself are its own and never come here. TRUE when the body ran to its end. Nothing
// stays installed after the call.
BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext, DWORD* pdwExceptionCode);
