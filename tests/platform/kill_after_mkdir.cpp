// Preloaded into a helper: the process is killed right after it makes a
// directory whose name has "trilox" in it, as a crash at that point would.
#include <dlfcn.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>

namespace {

template <typename Function>
Function* real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

void killed_if_made(bool made, const char* path) {
    if (made && std::strstr(path, "trilox")) std::raise(SIGKILL);
}

}  // namespace

extern "C" int mkdir(const char* path, mode_t mode) {
    int result = real<int(const char*, mode_t)>("mkdir")(path, mode);
    killed_if_made(result == 0, path);
    return result;
}

extern "C" int mkdirat(int fd, const char* path, mode_t mode) {
    int result = real<int(int, const char*, mode_t)>("mkdirat")(fd, path, mode);
    killed_if_made(result == 0, path);
    return result;
}

extern "C" char* mkdtemp(char* path) {
    char* result = real<char*(char*)>("mkdtemp")(path);
    killed_if_made(result != nullptr, path);
    return result;
}
