#pragma once

#include <memory>

class TNS_OrtaneANI;

// The module objects of the instance interface, each under its own id. An
// id is never 0 and never given to a second object while the first lives.
long AddInstance(std::unique_ptr<TNS_OrtaneANI> module);
// The live object of `id`, null for any other id.
TNS_OrtaneANI* FindInstance(long id);
// Takes the live object of `id` out of the table; null for any other id.
std::unique_ptr<TNS_OrtaneANI> RemoveInstance(long id);
