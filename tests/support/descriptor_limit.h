// Sets the soft limit on open descriptors for a test, and puts it back.
#pragma once

#include <sys/resource.h>

class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t wanted) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit changed = saved_;
        changed.rlim_cur = wanted;
        set_ = wanted <= saved_.rlim_max && setrlimit(RLIMIT_NOFILE, &changed) == 0;
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool set() const { return set_; }
    rlim_t hard() const { return saved_.rlim_max; }

private:
    rlimit saved_{};
    bool set_ = false;
};
