#pragma once

#include "platform/win32.h"

#include <string>

class TNS_OrtaneANI;

// Copies the host's text out of its block and frees the block. A null
// block reads as empty text, a negative length as zero.
std::string TakeText(HGLOBAL block, long len);

// Answers the request in the host's block, read where it lies, with a new
// block, frees the host's and sets *len to the answer's length; `module` is
// null when there is no module object. A null `len` frees the block and
// answers null.
HGLOBAL AnswerRequest(TNS_OrtaneANI* module, HGLOBAL block, long* len);
