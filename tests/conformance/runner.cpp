// Runs a conformance scenario against a built module, as its host.
//
//   conformance [--linux-host] MODULE SCENARIO SCRATCH_DIR
//
// --linux-host loads MODULE as Linux hosts do (see HostInterface).
//
// A scenario is a text file of steps, one a line ('#' starts a comment):
//   > call ARG0 ARG1 ...   send an EXECUTE request from a local caller
//   > raw [TEXT]           send TEXT as it stands
//   < TEXT                 the exact response to the last request
//   took MIN MAX           the last request took MIN to MAX milliseconds
//   load [DIR] | unload    hand the module a directory (default: its own)
//   reopen                 unload, free the library, load it again and hand
//                          it its directory, as hosts that free a module
//                          between calls do
//   sleep MS
//   mkdir DIR | absent FILE | license-file FILE
//   peer start             start a second process hosting the same module
//   peer STEP              hand that process a step: "> ...", "sleep MS",
//                          or "exit" (end at once, releasing nothing)
//   peer < TEXT            wait for the second process's next response
//   windows: STEP | linux: STEP   a step for that system only
// TEXT and arguments take the escapes \r \n \t \0 \\ \xHH; paths are
// relative to SCRATCH_DIR. The second process is this program again:
//   conformance --peer [--linux-host] MODULE RESULTS_FILE
// reading steps from its standard input and appending each response,
// escaped, as one line of RESULTS_FILE.
#include "host.h"
#include "scenario_text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const std::string kThisSystem = "windows: ", kOtherSystem = "linux: ";
#else
const std::string kThisSystem = "linux: ", kOtherSystem = "windows: ";
#endif

std::string Escape(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const char kLinuxHostOption[] = "--linux-host";

int RunPeer(HostInterface host_interface, const std::string& module, const std::string& results) {
    SaoriHost host;
    if (!host.Open(module, host_interface).empty())
        return 3;
    std::ofstream out(results, std::ios::binary | std::ios::app);
    for (std::string step; std::getline(std::cin, step);) {
        if (step == "exit")
            std::_Exit(0);  // no unload, no release: whatever is held is abandoned
        if (step.rfind("sleep ", 0) == 0) {
            Sleep(static_cast<DWORD>(std::stoul(step.substr(6))));
            continue;
        }
        out << Escape(host.Request(RequestOf(step))) << '\n' << std::flush;
    }
    return 0;
}

class Scenario {
public:
    Scenario(std::string self, HostInterface host_interface, std::string module, fs::path scratch)
        : self_(std::move(self)),
          interface_(host_interface),
          module_(std::move(module)),
          scratch_(std::move(scratch)) {}

    ~Scenario() { StopPeer(); }

    bool Run(const std::string& file) {
        std::string error = Open();
        if (!error.empty()) {
            std::cerr << error << "\n";
            return false;
        }
        std::ifstream in(file);
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] == '#')
                continue;
            std::string failure = Step(line);
            if (!failure.empty()) {
                std::cerr << file << ":" << number << ": " << line << "\n" << failure << "\n";
                return false;
            }
        }
        return true;
    }

private:
    std::string Open() {
        host_ = std::make_unique<SaoriHost>();
        return host_->Open(module_, interface_);
    }

    static std::string Compare(const std::string& expected, const std::string& actual) {
        if (expected == actual)
            return "";
        return "  expected: " + Escape(expected) + "\n  actual:   " + Escape(actual);
    }

    std::string Step(const std::string& line) {
        if (line.rfind(kOtherSystem, 0) == 0)
            return "";
        if (line.rfind(kThisSystem, 0) == 0)
            return Step(line.substr(kThisSystem.size()));
        if (line[0] == '>') {
            auto start = std::chrono::steady_clock::now();
            last_response_ = host_->Request(RequestOf(line));
            last_duration_ = std::chrono::steady_clock::now() - start;
            return "";
        }
        if (line.rfind("< ", 0) == 0)
            return Compare(Unescape(line.substr(2)), last_response_);
        if (line.rfind("took ", 0) == 0)
            return CheckDuration(Words(line.substr(5)));
        if (line == "reopen") {
            host_.reset();
            std::string error = Open();
            return error.empty() ? "" : "  " + error;
        }
        if (line == "unload") {
            host_->Unload();
            return "";
        }
        if (line == "load" || line.rfind("load ", 0) == 0) {
            if (line == "load")
                host_->Load(host_->ModuleDirectory());
            else
                host_->Load(scratch_.string() + "/" + Unescape(line.substr(5)));
            return "";
        }
        if (line.rfind("sleep ", 0) == 0) {
            Sleep(static_cast<DWORD>(std::stoul(line.substr(6))));
            return "";
        }
        if (line.rfind("mkdir ", 0) == 0) {
            fs::create_directories(scratch_ / Unescape(line.substr(6)));
            return "";
        }
        if (line.rfind("absent ", 0) == 0)
            return fs::exists(scratch_ / Unescape(line.substr(7))) ? "  the file exists" : "";
        if (line.rfind("license-file ", 0) == 0)
            return CheckLicense(scratch_ / Unescape(line.substr(13)));
        if (line.rfind("peer ", 0) == 0)
            return PeerStep(line.substr(5));
        return "  unknown step";
    }

    std::string CheckDuration(const std::vector<std::string>& bounds) const {
        long long took = std::chrono::duration_cast<std::chrono::milliseconds>(last_duration_).count();
        if (bounds.size() != 2)
            return "  expected: took MIN MAX";
        if (took < std::stoll(bounds[0]) || took > std::stoll(bounds[1]))
            return "  the request took " + std::to_string(took) + " ms";
        return "";
    }

    // One copy of the licence text; text mode may have written CR LF.
    static std::string CheckLicense(const fs::path& path) {
        if (!fs::exists(path))
            return "  no licence file";
        std::string text;
        for (char c : ReadFile(path))
            if (c != '\r')
                text += c;
        std::size_t first = text.find("MT19937");
        if (text.rfind("trilox", 0) != 0 || first == std::string::npos ||
            text.find("MT19937", first + 1) != std::string::npos || text.back() != '\n' ||
            text.find("the trilox authors") == std::string::npos)
            return "  not one copy of the licence text:\n" + text;
        return "";
    }

    std::string PeerStep(const std::string& step) {
        if (step == "start") {
            results_ = scratch_ / "peer-results.txt";
            fs::remove(results_);
            peer_read_ = 0;
            std::string command = self_ + " --peer " +
                                  (interface_ == HostInterface::kLinuxHost ? kLinuxHostOption + std::string(" ") : "") +
                                  module_ + " " + results_.string();
            peer_ = popen(command.c_str(), "w");
            return peer_ ? "" : "  cannot start the second process";
        }
        if (!peer_)
            return "  no second process";
        if (step.rfind("< ", 0) == 0)
            return Compare(Unescape(step.substr(2)), NextPeerResponse());
        std::fputs((step + "\n").c_str(), peer_);
        std::fflush(peer_);
        if (step == "exit")
            StopPeer();
        return "";
    }

    // Waits, up to a minute, for the next line the second process writes.
    std::string NextPeerResponse() {
        for (int waited = 0; waited < 60000; waited += 10) {
            std::string written = ReadFile(results_);
            std::size_t end = written.find('\n', peer_read_);
            if (end != std::string::npos) {
                std::string line = written.substr(peer_read_, end - peer_read_);
                peer_read_ = end + 1;
                return Unescape(line);
            }
            Sleep(10);
        }
        return "(no response from the second process)";
    }

    void StopPeer() {
        if (peer_)
            pclose(peer_);
        peer_ = nullptr;
    }

    std::string self_;
    HostInterface interface_;
    std::string module_;
    fs::path scratch_;
    std::unique_ptr<SaoriHost> host_;
    std::string last_response_;
    std::chrono::steady_clock::duration last_duration_{};
    FILE* peer_ = nullptr;
    fs::path results_;
    std::size_t peer_read_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    std::string self = args[0];
    args.erase(args.begin());
    bool peer = !args.empty() && args[0] == "--peer";
    if (peer)
        args.erase(args.begin());
    HostInterface host_interface = HostInterface::kSaori;
    if (!args.empty() && args[0] == kLinuxHostOption) {
        host_interface = HostInterface::kLinuxHost;
        args.erase(args.begin());
    }
    if (peer && args.size() == 2)
        return RunPeer(host_interface, args[0], args[1]);
    if (peer || args.size() != 3) {
        std::cerr << "usage: conformance [--linux-host] MODULE SCENARIO SCRATCH_DIR\n";
        return 2;
    }
    fs::path scratch = args[2];
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    Scenario scenario(self, host_interface, args[0], scratch);
    if (!scenario.Run(args[1]))
        return 1;
    std::cout << "passed: " << args[1] << "\n";
    return 0;
}
