// A named thread of the repl. mingw-w64 here has the win32 thread model,
// without std::thread: Windows builds use Windows threads, Linux pthreads.
#pragma once

#include <functional>
#include <string>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

// Runs the lines sent to it, one at a time and in order, on a thread of its
// own; a pipe holds the lines it has not come to yet. Each line travels
// behind a byte that says what to do with it: 'L' run it, 'E' return from
// the thread, 'X' call ExitThread (pthread_exit).
class ReplThread {
public:
    explicit ReplThread(std::function<void(const std::string&)> run) : run_(std::move(run)) {
#ifdef _WIN32
        _pipe(lines_, 4096, _O_BINARY);
        thread_ = CreateThread(nullptr, 0, Start, this, 0, nullptr);
#else
        (void)!pipe(lines_);
        pthread_create(&thread_, nullptr, Start, this);
#endif
    }
    ReplThread(const ReplThread&) = delete;
    ReplThread& operator=(const ReplThread&) = delete;

    void Send(const std::string& line) { Put('L' + line + '\n'); }

    // Ends the thread once it has run the lines before, by returning or by
    // ExitThread, and returns when it is gone: what it held is abandoned.
    void End(bool exit_thread) {
        Put(exit_thread ? "X\n" : "E\n");
#ifdef _WIN32
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
#else
        pthread_join(thread_, nullptr);
#endif
        close(lines_[0]);
        close(lines_[1]);
    }

private:
    void Put(const std::string& text) { (void)!write(lines_[1], text.data(), static_cast<unsigned>(text.size())); }

    void Run() {
        std::string lines;
        char buffer[4096];
        for (int got; (got = static_cast<int>(read(lines_[0], buffer, sizeof buffer))) > 0;) {
            lines.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = lines.find('\n')) != std::string::npos; lines.erase(0, end + 1)) {
                if (lines[0] == 'E')
                    return;
                if (lines[0] == 'X') {
#ifdef _WIN32
                    ExitThread(0);
#else
                    pthread_exit(nullptr);
#endif
                }
                run_(lines.substr(1, end - 1));
            }
        }
    }

#ifdef _WIN32
    static DWORD WINAPI Start(LPVOID self) {
        static_cast<ReplThread*>(self)->Run();
        return 0;
    }
    HANDLE thread_;
#else
    static void* Start(void* self) {
        static_cast<ReplThread*>(self)->Run();
        return nullptr;
    }
    pthread_t thread_;
#endif
    std::function<void(const std::string&)> run_;
    int lines_[2];
};
