// Another process for the tests to share mutexes with. It reads one command a
// line and answers each with one line, "<result> <last error>":
//   create NAME | open NAME | wait HANDLE MILLISECONDS | release HANDLE |
//   close HANDLE | abandon HANDLE (a thread acquires it and ends holding it)
#include "platform/win32.h"

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

int main() {
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
