#pragma once

#include <memory>

class TNS_OrtaneANI;

// The one process-wide module object: set by load, cleared by unload.
std::unique_ptr<TNS_OrtaneANI>& CurrentModule();
