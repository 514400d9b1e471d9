// The least a module answering the same texts could do, the floor the request
// path is measured against: it reads the lines where the host put them, finds
// the name in a hash table, takes a robust process-shared pthread mutex and
// writes one of its fixed answers into one new block. It knows GET Version
// and Create, Lock, Unlock, Wait and isLocked on mutexes it created, and
// refuses External callers; nothing else. A mutex lies in memory shared with
// the processes forked after its Create, which can so hand it to each other.
#include "robust_mutex.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

struct NamedMutex {
    explicit NamedMutex(std::string_view given) : name(given), mutex(MapRobustMutex()) {
        if (!mutex)
            throw std::bad_alloc();
    }
    std::string name;
    pthread_mutex_t* mutex;
};

// Keyed by views of the names the entries hold.
std::unordered_map<std::string_view, std::unique_ptr<NamedMutex>> mutexes;

constexpr std::string_view kOk = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
constexpr std::string_view kTaken = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nResult: 1\r\nSender: trilox\r\n\r\n";
constexpr std::string_view kNotTaken = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nResult: 0\r\nSender: trilox\r\n\r\n";
constexpr std::string_view kNoContent = "SAORI/1.0 204 No Content\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
constexpr std::string_view kBad = "SAORI/1.0 400 Bad Request\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
constexpr std::string_view kNoSuchMutex =
    "SAORI/1.0 500 Internal Server Error\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";

struct Request {
    std::string_view command, level, argument0, argument1;
};

// The first line and the first of each header read, up to the empty line.
Request Read(std::string_view text) {
    Request request;
    bool first = true;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            request.command = line.substr(0, line.find(" SAORI/"));
            first = false;
            continue;
        }
        if (line.empty())
            break;
        for (auto [key, value] : {std::pair{"SecurityLevel: ", &request.level},
                                  std::pair{"Argument0: ", &request.argument0},
                                  std::pair{"Argument1: ", &request.argument1}}) {
            std::string_view prefix = key;
            if (value->empty() && line.substr(0, prefix.size()) == prefix)
                *value = line.substr(prefix.size());
        }
    }
    return request;
}

std::string_view Answer(const Request& request) {
    if (request.level == "External")
        return kBad;
    if (request.command == "GET Version")
        return kOk;
    if (request.command != "EXECUTE" || request.argument1.empty())
        return kBad;
    auto found = mutexes.find(request.argument1);
    if (request.argument0 == "Create") {
        if (found != mutexes.end())
            return kNotTaken;
        auto mutex = std::make_unique<NamedMutex>(request.argument1);
        mutexes.emplace(mutex->name, std::move(mutex));
        return kTaken;
    }
    if (found == mutexes.end())
        return kNoSuchMutex;
    pthread_mutex_t* mutex = found->second->mutex;
    if (request.argument0 == "Lock")
        return pthread_mutex_trylock(mutex) == 0 ? kTaken : kNotTaken;
    if (request.argument0 == "Unlock") {
        pthread_mutex_unlock(mutex);
        return kNoContent;
    }
    if (request.argument0 == "Wait") {
        pthread_mutex_lock(mutex);
        return kNoContent;
    }
    if (request.argument0 == "isLocked") {
        if (pthread_mutex_trylock(mutex) != 0)
            return kTaken;
        pthread_mutex_unlock(mutex);
        return kNotTaken;
    }
    return kBad;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int load(void* path, long) {
    std::free(path);
    return 1;
}

extern "C" __attribute__((visibility("default"))) int unload() {
    return 1;
}

extern "C" __attribute__((visibility("default"))) void* request(void* block, long* len) {
    std::string_view text(static_cast<const char*>(block), *len > 0 ? static_cast<std::size_t>(*len) : 0);
    std::string_view answer = Answer(Read(text));
    std::free(block);
    void* reply = std::malloc(answer.size());
    std::memcpy(reply, answer.data(), answer.size());
    *len = static_cast<long>(answer.size());
    return reply;
}
