// Structured exceptions on the simulated machine, as a 32-bit Windows thread has them: a chain
// of frame-based handlers in the thread's NT_TIB, innermost first, offered each exception by
// RaiseException and unwound by RtlUnwind. What no handler takes would end the process on
// Windows; here it becomes a C++ exception a test can see.
#include "Internal.h"

using sim::Machine;

namespace sim {

namespace {

EXCEPTION_REGISTRATION_RECORD* const kEndOfChain =
    reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(~uintptr_t{0});

const DWORD kStatusUnwind = 0xC0000027;
const DWORD kStatusNoncontinuableException = 0xC0000025;
const DWORD kStatusInvalidUnwindTarget = 0xC0000029;

NT_TIB& Tib() {
    return Machine::Current().kernel().tib;
}

// A library's own handler for what it raises: execution goes on after the raise.
EXCEPTION_DISPOSITION WINAPI ResumeAfterOwnException(EXCEPTION_RECORD* pRecord,
                                                     PVOID /*pEstablisherFrame*/,
                                                     CONTEXT* /*pContext*/,
                                                     PVOID /*pDispatcherContext*/) {
    return (pRecord->ExceptionFlags & EXCEPTION_UNWIND) != 0 ? ExceptionContinueSearch
                                                             : ExceptionContinueExecution;
}

}  // namespace

void InitialiseThreadInformation(NT_TIB& tib) {
    memset(&tib, 0, sizeof(tib));
    tib.ExceptionList = kEndOfChain;
    tib.Self = &tib;
}

size_t Machine::ExceptionHandlerCount() const {
    size_t nHandlers = 0;
    for (const EXCEPTION_REGISTRATION_RECORD* p = m_kernel->tib.ExceptionList; p != kEndOfChain;
         p = p->Next) {
        ++nHandlers;
    }
    return nHandlers;
}

void RaiseAndRecover(DWORD dwExceptionCode) {
    EXCEPTION_REGISTRATION_RECORD own = {Tib().ExceptionList, ResumeAfterOwnException};
    Tib().ExceptionList = &own;
    RaiseException(dwExceptionCode, 0, 0, NULL);
    Tib().ExceptionList = own.Next;
}

}  // namespace sim

extern "C" {

struct _TEB* NtCurrentTeb(void) {
    return reinterpret_cast<struct _TEB*>(&sim::Tib());
}

void WINAPI RtlUnwind(PVOID TargetFrame, PVOID /*TargetIp*/, PEXCEPTION_RECORD ExceptionRecord,
                      PVOID /*ReturnValue*/) {
    EXCEPTION_RECORD unwind;
    memset(&unwind, 0, sizeof(unwind));
    unwind.ExceptionCode = sim::kStatusUnwind;
    EXCEPTION_RECORD* pRecord = ExceptionRecord != NULL ? ExceptionRecord : &unwind;
    pRecord->ExceptionFlags |=
        EXCEPTION_UNWINDING | (TargetFrame == NULL ? EXCEPTION_EXIT_UNWIND : 0);
    CONTEXT context;
    memset(&context, 0, sizeof(context));
    NT_TIB& tib = sim::Tib();
    while (tib.ExceptionList != sim::kEndOfChain && tib.ExceptionList != TargetFrame) {
        EXCEPTION_REGISTRATION_RECORD* pFrame = tib.ExceptionList;
        pFrame->Handler(pRecord, pFrame, &context, NULL);
        tib.ExceptionList = pFrame->Next;
    }
    if (TargetFrame != NULL && tib.ExceptionList != TargetFrame) {
        throw sim::UnhandledStructuredException{sim::kStatusInvalidUnwindTarget};
    }
}

void WINAPI RaiseException(DWORD dwExceptionCode, DWORD dwExceptionFlags, DWORD nNumberOfArguments,
                           const ULONG_PTR* lpArguments) {
    // Nothing here may need destroying: a handler may leave this frame by longjmp.
    EXCEPTION_RECORD record;
    memset(&record, 0, sizeof(record));
    record.ExceptionCode = dwExceptionCode;
    record.ExceptionFlags = dwExceptionFlags & EXCEPTION_NONCONTINUABLE;
    record.NumberParameters = nNumberOfArguments < EXCEPTION_MAXIMUM_PARAMETERS
                                  ? nNumberOfArguments
                                  : EXCEPTION_MAXIMUM_PARAMETERS;
    for (DWORD i = 0; lpArguments != NULL && i < record.NumberParameters; ++i) {
        record.ExceptionInformation[i] = lpArguments[i];
    }
    CONTEXT context;
    memset(&context, 0, sizeof(context));

    for (EXCEPTION_REGISTRATION_RECORD* pFrame = sim::Tib().ExceptionList;
         pFrame != sim::kEndOfChain; pFrame = pFrame->Next) {
        if (pFrame->Handler(&record, pFrame, &context, NULL) == ExceptionContinueExecution) {
            if (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) {
                throw sim::UnhandledStructuredException{sim::kStatusNoncontinuableException};
            }
            return;
        }
    }
    throw sim::UnhandledStructuredException{dwExceptionCode};
}

}  // extern "C"
