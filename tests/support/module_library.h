#pragma once

#include <string>

// The built module, loaded as a host loads it, with its entry points called
// directly so that a test controls every allocation around them.
class ModuleLibrary {
public:
    struct Reply {
        bool null;         // no reply block
        long len;          // the length written back
        std::string text;  // the reply's bytes
    };

    ModuleLibrary();  // loads TRILOX_MODULE_PATH, once per process

    // Sends `text` in a block of its own and frees the reply.
    Reply Request(const std::string& text) const;
    // Calls load with `directory`; true if it answered TRUE.
    bool Load(const std::string& directory) const;

    using LoadFn = int (*)(void*, long);
    using UnloadFn = int (*)();
    using RequestFn = void* (*)(void*, long*);

    LoadFn load;
    UnloadFn unload;
    RequestFn request;

    // The instance interface of Linux hosts.
    using InstanceLoadFn = long (*)(char*, long);
    using InstanceUnloadFn = int (*)(long);
    using InstanceRequestFn = char* (*)(long, char*, long*);

    InstanceLoadFn saori_load;
    InstanceUnloadFn saori_unload;
    InstanceRequestFn saori_request;
};

// A request text's block, as a host makes it.
void* Block(const std::string& text);

inline const std::string kFixed500 = "SAORI/1.0 500 Internal Server Error\r\n\r\n";
