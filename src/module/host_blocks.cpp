// Text blocks are GMEM_FIXED global memory, so a handle is an address.
#include "module/host_blocks.h"

#include "protocol/request_parser.h"

#include <cstring>

namespace {

HGLOBAL GiveText(const char* bytes, std::size_t size, long* len) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) {
        *len = 0;
        return nullptr;
    }
    std::memcpy(block, bytes, size);
    *len = static_cast<long>(size);
    return block;
}

}  // namespace

std::string TakeText(HGLOBAL block, long len) {
    struct FreeOnExit {
        HGLOBAL block;
        ~FreeOnExit() { GlobalFree(block); }
    } owned{block};  // freed even when the copy runs out of memory
    if (!block || len <= 0)
        return {};
    return std::string(static_cast<const char*>(block), static_cast<std::size_t>(len));
}

HGLOBAL AnswerRequest(TNS_OrtaneANI* module, HGLOBAL block, long* len) {
    if (!len) {
        GlobalFree(block);
        return nullptr;
    }
    try {
        std::string response = ProcessRequest(module, TakeText(block, *len));
        return GiveText(response.data(), response.size(), len);
    } catch (...) {
        // Built without allocating: memory is what ran out.
        return GiveText(kFixedErrorResponse, sizeof kFixedErrorResponse - 1, len);
    }
}
