#include "platform/StructuredGuard.h"

#if defined(_MSC_VER)

BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext, DWORD* pdwExceptionCode) {
    __try {
        pfnBody(pContext);
    } __except (*pdwExceptionCode = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        return FALSE;
    }
    return TRUE;
}

#elif defined(_WIN64)

// x64 finds frame handlers through each function's unwind data, which GCC cannot be asked to
// give a C++ function. KorvaneGuardedCall(pfnBody, pContext, pState) is a frame of its own
// whose unwind data names StopUnhandledException as its exception handler; pState is kept in
// the frame, 32 bytes above the home space of the body's arguments.
extern "C" {

struct GUARD_STATE {
    DWORD dwExceptionCode;
};

BOOL KorvaneGuardedCall(PFN_GUARDED_BODY pfnBody, void* pContext, GUARD_STATE* pState);
void KorvaneGuardedCallResume();

// Reached during the search for a handler, after every frame nearer the fault declined.
EXCEPTION_DISPOSITION StopUnhandledException(EXCEPTION_RECORD* pRecord, void* pEstablisherFrame,
                                             CONTEXT* /*pContext*/,
                                             DISPATCHER_CONTEXT* pDispatcherContext) {
    if ((pRecord->ExceptionFlags & EXCEPTION_UNWIND) != 0) {
        return ExceptionContinueSearch;
    }
    GUARD_STATE* pState =
        *reinterpret_cast<GUARD_STATE**>(static_cast<BYTE*>(pEstablisherFrame) + 32);
    pState->dwExceptionCode = pRecord->ExceptionCode;
    // Unwinds the frames in between, then resumes in KorvaneGuardedCall returning FALSE.
    RtlUnwindEx(pEstablisherFrame, reinterpret_cast<void*>(&KorvaneGuardedCallResume), pRecord,
                NULL, pDispatcherContext->ContextRecord, pDispatcherContext->HistoryTable);
    return ExceptionContinueSearch;
}

}  // extern "C"

asm(R"(
    .text
    .globl KorvaneGuardedCall
    .globl KorvaneGuardedCallResume
    .def KorvaneGuardedCall; .scl 2; .type 32; .endef
    .seh_proc KorvaneGuardedCall
KorvaneGuardedCall:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    .seh_handler StopUnhandledException, @except
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
KorvaneGuardedCallResume:
    addq $56, %rsp
    ret
    .seh_endproc
)");

BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext, DWORD* pdwExceptionCode) {
    GUARD_STATE state = {0};
    if (KorvaneGuardedCall(pfnBody, pContext, &state)) {
        return TRUE;
    }
    *pdwExceptionCode = state.dwExceptionCode;
    return FALSE;
}

#else

#include <setjmp.h>

namespace {

// One guarded call on the thread's chain of exception registrations (x86): the registration
// comes first, as the system hands it back as the establisher frame.
struct GUARD_FRAME {
    EXCEPTION_REGISTRATION_RECORD registration;
    jmp_buf resume;
    DWORD dwExceptionCode;
};

// Reached during the search for a handler, after every registration nearer the fault declined.
EXCEPTION_DISPOSITION WINAPI StopUnhandledException(EXCEPTION_RECORD* pRecord,
                                                    void* pEstablisherFrame, CONTEXT* /*pContext*/,
                                                    void* /*pDispatcherContext*/) {
    if ((pRecord->ExceptionFlags & EXCEPTION_UNWIND) != 0) {
        return ExceptionContinueSearch;
    }
    GUARD_FRAME* pFrame = static_cast<GUARD_FRAME*>(pEstablisherFrame);
    pFrame->dwExceptionCode = pRecord->ExceptionCode;
    // The registrations in between run their termination handlers and leave the chain.
    RtlUnwind(pEstablisherFrame, NULL, pRecord, NULL);
    longjmp(pFrame->resume, 1);
}

// GCC 12 takes NtCurrentTeb's read relative to the FS segment for an out-of-bounds access.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
NT_TIB* CurrentThreadInformation() {
    return reinterpret_cast<NT_TIB*>(NtCurrentTeb());
}
#pragma GCC diagnostic pop

}  // namespace

BOOL CallWithStructuredGuard(PFN_GUARDED_BODY pfnBody, void* pContext, DWORD* pdwExceptionCode) {
    NT_TIB* pTib = CurrentThreadInformation();
    GUARD_FRAME frame;
    frame.registration.Next = pTib->ExceptionList;
    frame.registration.Handler = StopUnhandledException;
    frame.dwExceptionCode = 0;
    pTib->ExceptionList = &frame.registration;
    // Taken with the registration in place, so the jump back has nothing left to unwind.
    if (setjmp(frame.resume) != 0) {
        pTib->ExceptionList = frame.registration.Next;
        *pdwExceptionCode = frame.dwExceptionCode;
        return FALSE;
    }
    pfnBody(pContext);
    pTib->ExceptionList = frame.registration.Next;
    return TRUE;
}

#endif
