// GMEM_FIXED global memory: the handle of a block is the address of its first
// byte, so a block is plain malloc memory and hosts may free it with free().
#include "platform/win32.h"

#include <cstdlib>

extern "C" HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
    // Windows hands out a valid block for zero bytes too.
    return std::malloc(bytes ? bytes : 1);
}

extern "C" HGLOBAL GlobalFree(HGLOBAL block) {
    std::free(block);
    return nullptr;
}
