/* Preloaded into 32-bit Wine where QEMU's user-mode emulator runs it (a kernel without 32-bit
   support). The emulator delivers a page fault with trap number -1 instead of the CPU's 14, and
   Wine turns a trap it does not know into an illegal instruction: an access violation, a guard
   page or a growing stack would all be misreported. This puts back what the CPU says, for
   SIGSEGV only, and changes nothing else. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <ucontext.h>

enum { kPageFaultTrap = 14 };

typedef void (*Handler)(int, siginfo_t*, void*);
typedef int (*Sigaction)(int, const struct sigaction*, struct sigaction*);

static Handler g_pWineHandler;

static void RestorePageFaultTrap(int nSignal, siginfo_t* pInfo, void* pContext) {
    ucontext_t* pUserContext = pContext;
    if (pUserContext->uc_mcontext.gregs[REG_TRAPNO] == -1 &&
        (pInfo->si_code == SEGV_MAPERR || pInfo->si_code == SEGV_ACCERR)) {
        pUserContext->uc_mcontext.gregs[REG_TRAPNO] = kPageFaultTrap;
    }
    g_pWineHandler(nSignal, pInfo, pContext);
}

int sigaction(int nSignal, const struct sigaction* pAction, struct sigaction* pOld) {
    static Sigaction pReal;
    if (pReal == NULL) {
        pReal = (Sigaction)dlsym(RTLD_NEXT, "sigaction");
    }
    if (nSignal == SIGSEGV && pAction != NULL && (pAction->sa_flags & SA_SIGINFO) &&
        pAction->sa_sigaction != RestorePageFaultTrap) {
        struct sigaction wrapped = *pAction;
        g_pWineHandler = pAction->sa_sigaction;
        wrapped.sa_sigaction = RestorePageFaultTrap;
        return pReal(nSignal, &wrapped, pOld);
    }
    return pReal(nSignal, pAction, pOld);
}

/* The emulator puts this library back into every 32-bit process it starts; 64-bit children
   must not be told to preload a 32-bit library. */
__attribute__((constructor)) static void ForgetPreload(void) {
    unsetenv("LD_PRELOAD");
}
