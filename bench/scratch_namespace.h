// A namespace directory of the benchmark's own, so that its mutexes meet no
// one else's, removed with everything in it when the benchmark ends.
#pragma once

#include <string>

class ScratchNamespace {
public:
    // Made under `base` and set as TRILOX_NAMESPACE_DIR; empty path on failure.
    explicit ScratchNamespace(const std::string& base);
    ~ScratchNamespace();
    ScratchNamespace(const ScratchNamespace&) = delete;
    ScratchNamespace& operator=(const ScratchNamespace&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
