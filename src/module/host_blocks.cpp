// Text blocks are GMEM_FIXED global memory, so a handle is an address.
#include "module/host_blocks.h"

#include "module/module_object.h"
#include "protocol/request_parser.h"

#include <cstring>
#include <string_view>

namespace {

// Frees a host's block on every way out, exceptions included.
struct OwnedBlock {
    HGLOBAL block;
    ~OwnedBlock() { GlobalFree(block); }

    // A null block reads as empty text, a negative length as zero.
    std::string_view Text(long len) const {
        if (!block || len <= 0)
            return {};
        return {static_cast<const char*>(block), static_cast<std::size_t>(len)};
    }
};

HGLOBAL GiveText(std::string_view text, long* len) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, text.size());
    if (!block) {
        *len = 0;
        return nullptr;
    }
    std::memcpy(block, text.data(), text.size());
    *len = static_cast<long>(text.size());
    return block;
}

}  // namespace

std::string TakeText(HGLOBAL block, long len) {
    OwnedBlock owned{block};
    return std::string(owned.Text(len));
}

HGLOBAL AnswerRequest(TNS_OrtaneANI* module, HGLOBAL block, long* len) {
    OwnedBlock request{block};
    if (!len)
        return nullptr;
    if (!module)
        return GiveText(kFixedErrorResponse, len);
    try {
        ResponseText response = ProcessRequest(module->AdmissionPolicy, module->DataPath, request.Text(*len));
        return GiveText(response.View(), len);
    } catch (...) {
        // Built without allocating: memory is what ran out.
        return GiveText(kFixedErrorResponse, len);
    }
}
