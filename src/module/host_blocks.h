#pragma once

#include "platform/win32.h"

#include <string>

class TNS_OrtaneANI;

// Copies the host's text out of its block and frees the block. A null
// block reads as empty text, a negative length as zero.
std::string TakeText(HGLOBAL block, long len);

// Answers the request in the host's block with a new block and sets *len to
// its length; `module` is null when there is no module object. A null `len`
// frees the block and answers null.
HGLOBAL AnswerRequest(TNS_OrtaneANI* module, HGLOBAL block, long* len);
