#include "platform/module_directory.h"

std::string module_directory(std::string given) {
    if (!given.empty() && given.back() != '/')
        given += '/';
    return given;
}
