// Counts what a request allocates inside a module: every malloc, calloc and
// realloc of this process is counted while the module's request entry point
// runs, the host's copying of the texts before and after it not. Prints, for
// trilox and for the minimal module, each case and its allocations a request,
// tab-separated.
#include "host.h"
#include "scratch_namespace.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* memory, std::size_t size);

namespace {

bool counting = false;
long allocations = 0;

constexpr int kRequests = 100;
constexpr std::size_t kNameLengths[] = {10, 100, 260};

class Module {
public:
    explicit Module(const char* path) : library_(dlopen(path, RTLD_NOW)) {
        auto load = library_ ? reinterpret_cast<int (*)(void*, long)>(dlsym(library_, "load")) : nullptr;
        request_ = library_ ? reinterpret_cast<void* (*)(void*, long*)>(dlsym(library_, "request")) : nullptr;
        if (load)
            load(Block("/nonexistent/"), 13);
    }
    explicit operator bool() const { return request_ != nullptr; }

    // The allocations a request makes, on average over kRequests; -1 when one
    // is not answered with `status`.
    double Allocations(const std::string& text, int status) const {
        long counted = 0;
        for (int i = 0; i < kRequests; ++i) {
            void* block = Block(text);
            long len = static_cast<long>(text.size());
            allocations = 0;
            counting = true;
            void* reply = request_(block, &len);
            counting = false;
            counted += allocations;
            bool answered = reply && StatusOf(std::string(static_cast<char*>(reply), len)) == status;
            std::free(reply);
            if (!answered)
                return -1;
        }
        return static_cast<double>(counted) / kRequests;
    }

private:
    static void* Block(const std::string& text) {
        void* block = std::malloc(text.size() ? text.size() : 1);
        std::memcpy(block, text.data(), text.size());
        return block;
    }

    void* library_;
    void* (*request_)(void*, long*) = nullptr;
};

bool Report(const char* module_name, const Module& module) {
    bool answered = true;
    auto print = [&](const std::string& what, const std::string& text, int status) {
        double counted = module.Allocations(text, status);
        answered = answered && counted >= 0;
        std::printf("%s\t%s\t%.2f\n", module_name, what.c_str(), counted);
    };
    print("GET Version", "GET Version SAORI/1.0\r\nSender: saori\r\nSecurityLevel: Local\r\nCharset: Shift_JIS\r\n\r\n",
          200);
    for (std::size_t length : kNameLengths) {
        std::string name = "alloc-" + std::string(length - 6, 'n');
        std::string suffix = ", " + std::to_string(length) + "-character name";
        answered = module.Allocations(ExecuteRequestText({"Create", name}), 200) >= 0 && answered;
        // As many Unlocks as Locks: each gives back a hold.
        print("Lock" + suffix, ExecuteRequestText({"Lock", name}), 200);
        print("Unlock" + suffix, ExecuteRequestText({"Unlock", name}), 204);
        print("isLocked" + suffix, ExecuteRequestText({"isLocked", name}), 200);
    }
    return answered;
}

}  // namespace

extern "C" void* malloc(std::size_t size) {
    allocations += counting;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
    allocations += counting;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* memory, std::size_t size) {
    allocations += counting;
    return __libc_realloc(memory, size);
}

int main() {
    const char* base = std::getenv("TMPDIR");
    ScratchNamespace scratch(base && *base ? base : "/dev/shm");
    Module trilox(TRILOX_MODULE_PATH), minimal(TRILOX_MINIMAL_MODULE_PATH);
    if (scratch.path().empty() || !trilox || !minimal) {
        std::fprintf(stderr, "trilox_allocations: cannot make a namespace directory or load the modules\n");
        return 1;
    }
    if (!Report("trilox", trilox) || !Report("minimal", minimal)) {
        std::fprintf(stderr, "trilox_allocations: a request was not answered as expected\n");
        return 1;
    }
    return 0;
}
