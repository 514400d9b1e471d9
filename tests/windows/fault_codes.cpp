// Checks that processor faults reach a Windows program as the exceptions
// Windows raises for them, whatever runs the program (under QEMU, Wine
// learns which fault it was from a number the emulator leaves out).
//
//   fault_codes          runs itself once per fault, prints each code,
//                        exits 1 when one differs
//   fault_codes KIND     raises that fault; exits with the exception code
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Fault {
    const char* kind;
    DWORD code;
};

const Fault kFaults[] = {
    {"access", EXCEPTION_ACCESS_VIOLATION},
    {"divide", EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"breakpoint", EXCEPTION_BREAKPOINT},
    {"illegal", EXCEPTION_ILLEGAL_INSTRUCTION},
};

LONG WINAPI ExitWithCode(EXCEPTION_POINTERS* exception) {
    ExitProcess(exception->ExceptionRecord->ExceptionCode);
}

int Raise(const char* kind) {
    SetUnhandledExceptionFilter(ExitWithCode);
    // Volatile, so that the compiler emits the faulting instructions as written.
    volatile int zero = 0, one = 1;
    if (!std::strcmp(kind, "access"))
        *static_cast<volatile int*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS)) = 1;
    else if (!std::strcmp(kind, "divide"))
        zero = one / zero;
    else if (!std::strcmp(kind, "breakpoint"))
        DebugBreak();
    else if (!std::strcmp(kind, "illegal"))
        __builtin_trap();
    return 2;
}

DWORD ExitCodeOf(const char* kind) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" " + kind;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2)
        return Raise(argv[1]);
    int wrong = 0;
    for (const Fault& fault : kFaults) {
        DWORD code = ExitCodeOf(fault.kind);
        std::printf("%-10s %08lX", fault.kind, code);
        if (code != fault.code) {
            std::printf("   expected %08lX", fault.code);
            ++wrong;
        }
        std::printf("\n");
    }
    return wrong ? 1 : 0;
}
