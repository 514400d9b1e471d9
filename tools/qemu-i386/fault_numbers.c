/* Preloaded into the 32-bit programs that scripts/i386.sh runs under QEMU's
 * i386 user-mode emulator. The emulator leaves the fault number (REG_TRAPNO)
 * of a signal's context at -1, and Wine tells faults apart by that number:
 * every access violation, division by zero or breakpoint would reach the
 * Windows program as an illegal instruction. This wraps the handlers a
 * program installs for the fault signals and fills the number in from the
 * signal and its code, as the kernel does, before they run.
 *
 * Built with gcc -m32 -nostdlib, without the C library's i386 headers, so
 * the few i386 layouts it needs are written out here. */

enum { SIGILL = 4, SIGTRAP = 5, SIGBUS = 7, SIGFPE = 8, SIGSEGV = 11, SIGNALS = 65 };
enum { SA_SIGINFO = 4 };
enum { SEGV_MAPERR = 1, SEGV_ACCERR = 2, TRAP_TRACE = 2, FPE_INTDIV = 1, FPE_INTOVF = 2 };
enum { REG_TRAPNO = 12, NO_FAULT_NUMBER = -1 };
enum { TRAP_DIVIDE = 0, TRAP_DEBUG = 1, TRAP_BREAKPOINT = 3, TRAP_INVALID_OPCODE = 6,
       TRAP_PROTECTION = 13, TRAP_PAGE_FAULT = 14, TRAP_FPU = 16 };

typedef struct {  /* the head of siginfo_t */
    int signo, error, code;
} SignalInfo;

typedef struct {  /* the head of ucontext_t */
    unsigned long flags;
    void* link;
    struct { void* base; int flags; unsigned long size; } stack;
    long gregs[19];
} UserContext;

typedef void Handler(int, SignalInfo*, void*);

typedef struct {  /* struct sigaction */
    Handler* handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
} SignalAction;

typedef int SigactionFunction(int, const SignalAction*, SignalAction*);

void* dlsym(void* handle, const char* name);
#define RTLD_NEXT ((void*)-1L)

static Handler* program_handlers[SIGNALS];

static int IsFault(int signal) {
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE ||
           signal == SIGTRAP;
}

static long FaultNumber(const SignalInfo* info) {
    switch (info->signo) {
    case SIGSEGV:
        return info->code == SEGV_MAPERR || info->code == SEGV_ACCERR ? TRAP_PAGE_FAULT
                                                                      : TRAP_PROTECTION;
    case SIGBUS:
        return TRAP_PAGE_FAULT;
    case SIGILL:
        return TRAP_INVALID_OPCODE;
    case SIGTRAP:
        return info->code == TRAP_TRACE ? TRAP_DEBUG : TRAP_BREAKPOINT;
    default:  /* SIGFPE */
        return info->code == FPE_INTDIV || info->code == FPE_INTOVF ? TRAP_DIVIDE : TRAP_FPU;
    }
}

static void WithFaultNumber(int signal, SignalInfo* info, void* context) {
    UserContext* user_context = context;
    if (user_context->gregs[REG_TRAPNO] == NO_FAULT_NUMBER)
        user_context->gregs[REG_TRAPNO] = FaultNumber(info);
    program_handlers[signal](signal, info, context);
}

int sigaction(int signal, const SignalAction* action, SignalAction* old) {
    static SigactionFunction* next;
    if (!next)
        next = (SigactionFunction*)dlsym(RTLD_NEXT, "sigaction");
    if (!IsFault(signal))
        return next(signal, action, old);

    Handler* previous = program_handlers[signal];
    SignalAction wrapped;
    /* SIG_DFL and SIG_IGN are 0 and 1, and need no fault number. */
    int wrap = action && (action->flags & SA_SIGINFO) && (unsigned long)action->handler > 1;
    if (wrap) {
        wrapped = *action;
        wrapped.handler = WithFaultNumber;
        program_handlers[signal] = action->handler;  /* before the signal can arrive */
    }
    int result = next(signal, wrap ? &wrapped : action, old);
    if (result != 0)
        program_handlers[signal] = previous;
    if (old && old->handler == WithFaultNumber)
        old->handler = previous;
    return result;
}
