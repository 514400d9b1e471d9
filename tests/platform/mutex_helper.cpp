// Another process for the tests to share mutexes with. It reads one command a
// line and answers each with one line, "<result> <last error>":
//   create NAME | open NAME | wait HANDLE MILLISECONDS | release HANDLE |
//   close HANDLE | abandon HANDLE (a thread acquires it and ends holding it)
// With --without-futex-lock-pi2 the kernel refuses FUTEX_LOCK_PI2 to it, as
// kernels before Linux 5.14 do.
#include "platform/win32.h"

#include <linux/filter.h>
#include <linux/futex.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

void refuse_futex_lock_pi2() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_futex, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1])),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, static_cast<__u32>(FUTEX_CMD_MASK)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 13 /* FUTEX_LOCK_PI2 */, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        std::exit(1);
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--without-futex-lock-pi2") refuse_futex_lock_pi2();
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command, rest;
        std::uintptr_t handle_value = 0;
        DWORD milliseconds = 0;
        words >> command;
        std::getline(words >> std::ws, rest);
        std::istringstream(rest) >> handle_value >> milliseconds;
        HANDLE handle = reinterpret_cast<HANDLE>(handle_value);

        SetLastError(ERROR_SUCCESS);
        std::uintptr_t result = 0;
        if (command == "create") result = reinterpret_cast<std::uintptr_t>(CreateMutexA(nullptr, FALSE, rest.c_str()));
        else if (command == "open") result = reinterpret_cast<std::uintptr_t>(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, rest.c_str()));
        else if (command == "wait") result = WaitForSingleObject(handle, milliseconds);
        else if (command == "release") result = ReleaseMutex(handle);
        else if (command == "close") result = CloseHandle(handle);
        else if (command == "abandon") std::thread([&] { result = WaitForSingleObject(handle, INFINITE); }).join();
        std::cout << result << ' ' << GetLastError() << std::endl;
    }
}
