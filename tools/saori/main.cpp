// saori: a command-line SAORI/1.0 host for people and tests.
#include "host.h"
#include "repl_thread.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kUsage[] =
    "usage: saori [--linux-host] MODULE version\n"
    "       saori [--linux-host] MODULE call [--result] ARG0 [ARG1 ...]\n"
    "       saori [--linux-host] MODULE raw    (request from standard input, verbatim)\n"
    "       saori [--linux-host] MODULE repl   (one call per input line)\n"
    "       saori --version                     (the trilox release it comes with)\n"
    "\n"
    "MODULE is loaded from its path and called through load, unload and\n"
    "request. With --linux-host it is loaded as Linux hosts load it: a name\n"
    "without '/' (trilox.dll) is looked for in each directory of\n"
    "$SAORI_FALLBACK_PATH, and called through NAME_saori_load, _unload and\n"
    "_request (trilox_saori_load for trilox.dll).\n"
    "\n"
    "repl: each line is one call, its words the arguments; a line with a tab\n"
    "is split at each tab instead, so that an argument may be empty or hold\n"
    "spaces. The line .unload unloads the module and .load loads it again,\n"
    "within the same process; each answers with its own name on a line.\n"
    "A line @NAME CALL (or @NAME<TAB>CALL) runs CALL on the thread NAME, made\n"
    "on first use; its answer follows a line @NAME. Calls on different threads\n"
    "may overlap. The line .end @NAME has the thread return, .exit @NAME has it\n"
    "call ExitThread (pthread_exit); each answers with itself on a line once\n"
    "the thread is gone, and what it held is abandoned.\n";

void Write(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

// Runs one call and prints its response (or its Result alone) after `heading`.
int Call(SaoriHost& host, std::vector<std::string> arguments, const std::string& heading = "") {
    bool result_only = !arguments.empty() && arguments.front() == "--result";
    if (result_only)
        arguments.erase(arguments.begin());
    std::string response = host.Request(ExecuteRequestText(arguments));
    Write(heading + (result_only ? ResultOf(response) + "\n" : response));
    // A mutex that cannot be had may be a directory or a file that cannot be used: say why.
    if (ExitStatusOf(response) == 2)
        std::fputs(host.Problems().c_str(), stderr);
    return ExitStatusOf(response);
}

// A repl line's arguments: split at each tab when it has one, else at runs of
// white space.
std::vector<std::string> ArgumentsOf(const std::string& line) {
    if (line.find('\t') == std::string::npos) {
        std::istringstream words(line);
        return {std::istream_iterator<std::string>(words), {}};
    }
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        arguments.push_back(line.substr(start, tab - start));
    arguments.push_back(line.substr(start));
    return arguments;
}

int Repl(SaoriHost& host) {
    int status = 0;
    std::map<std::string, std::unique_ptr<ReplThread>> threads;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(".end @", 0) == 0 || line.rfind(".exit @", 0) == 0) {
            auto thread = threads.find(line.substr(line.find('@') + 1));
            if (thread != threads.end()) {
                thread->second->End(line[1] == 'x');
                threads.erase(thread);
            }
            Write(line + "\n");
            continue;
        }
        if (line.rfind('@', 0) == 0) {
            std::size_t end = line.find_first_of(" \t");
            std::string name = line.substr(1, end == std::string::npos ? end : end - 1);
            std::unique_ptr<ReplThread>& thread = threads[name];
            if (!thread) {
                thread = std::make_unique<ReplThread>([&host, name](const std::string& call) {
                    std::vector<std::string> arguments = ArgumentsOf(call);
                    if (!arguments.empty())
                        Call(host, arguments, "@" + name + "\n");
                });
            }
            thread->Send(end == std::string::npos ? "" : line.substr(end + 1));
            continue;
        }
        if (line == ".unload" || line == ".load") {
            if (line == ".unload")
                host.Unload();
            else
                host.Load(host.ModuleDirectory());
            Write(line + "\n");
            continue;
        }
        std::vector<std::string> arguments = ArgumentsOf(line);
        if (!arguments.empty())
            status = Call(host, arguments);
    }
    // Threads still there may be waiting in a call: they end with the process.
    for (auto& thread : threads)
        thread.second.release();
    return status;
}

int Raw(SaoriHost& host) {
    std::string text{std::istreambuf_iterator<char>(std::cin), {}};
    std::string response = host.Request(text);
    Write(response);
    return ExitStatusOf(response);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Responses are bytes: no CR inserted before each LF.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("saori, the command-line host of trilox " TRILOX_VERSION);
        return 0;
    }
    HostInterface host_interface = HostInterface::kSaori;
    if (!args.empty() && args[0] == "--linux-host") {
        host_interface = HostInterface::kLinuxHost;
        args.erase(args.begin());
    }
    if (args.size() < 2) {
        std::fputs(kUsage, stderr);
        return 3;
    }
    SaoriHost host;
    std::string error = host.Open(args[0], host_interface);
    if (!error.empty()) {
        std::fprintf(stderr, "saori: %s\n", error.c_str());
        return 3;
    }
    const std::string& mode = args[1];
    std::vector<std::string> rest(args.begin() + 2, args.end());
    if (mode == "version") {
        std::string response = host.Request("GET Version SAORI/1.0\r\nSender: saori\r\n\r\n");
        Write(response);
        return ExitStatusOf(response);
    }
    if (mode == "call" && !rest.empty())
        return Call(host, rest);
    if (mode == "raw")
        return Raw(host);
    if (mode == "repl")
        return Repl(host);
    std::fputs(kUsage, stderr);
    return 3;
}
