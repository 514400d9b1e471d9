#include "module/instances.h"

#include "module/module_object.h"

#include <climits>
#include <map>

namespace {

struct InstanceTable {
    std::map<long, std::unique_ptr<TNS_OrtaneANI>> live;
    long last_id = 0;
};

InstanceTable& Instances() {
    // Never destroyed: a host may call unload from its own teardown, after
    // the library's static objects are gone.
    static auto& table = *new InstanceTable;
    return table;
}

}  // namespace

long AddInstance(std::unique_ptr<TNS_OrtaneANI> module) {
    InstanceTable& table = Instances();
    long id = table.last_id;
    do
        id = id == LONG_MAX ? 1 : id + 1;
    while (table.live.count(id));
    table.live.emplace(id, std::move(module));
    table.last_id = id;
    return id;
}

TNS_OrtaneANI* FindInstance(long id) {
    auto found = Instances().live.find(id);
    return found == Instances().live.end() ? nullptr : found->second.get();
}

std::unique_ptr<TNS_OrtaneANI> RemoveInstance(long id) {
    auto found = Instances().live.find(id);
    if (found == Instances().live.end())
        return nullptr;
    std::unique_ptr<TNS_OrtaneANI> module = std::move(found->second);
    Instances().live.erase(found);
    return module;
}
