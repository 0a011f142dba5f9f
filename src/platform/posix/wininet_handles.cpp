#include "platform/posix/wininet_handles.h"

#include <map>
#include <mutex>

namespace holwerk::posix {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, ObjectRef> objects;
    std::uintptr_t nextId = 0x1000;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

// Children first, so that no request outlives the handles it came from. The
// objects go to `closed`, to be let go outside the lock.
void CloseLocked(HandleTable& table, std::uintptr_t id, std::vector<ObjectRef>& closed) {
    const auto found = table.objects.find(id);
    if (found == table.objects.end()) return;
    const ObjectRef object = found->second;
    for (std::uintptr_t child : std::vector<std::uintptr_t>(object->children)) {
        CloseLocked(table, child, closed);
    }
    if (object->parent != nullptr) std::erase(object->parent->children, id);
    object->closed = true;
    if (object->transfer) object->transfer->Cancel();
    table.objects.erase(found);
    closed.push_back(object);
}

}  // namespace

HINTERNET RegisterHandle(const ObjectRef& object, const ObjectRef& parent) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (parent != nullptr && parent->closed) return nullptr;
    object->id = table.nextId++;
    object->parent = parent;
    if (parent != nullptr) parent->children.push_back(object->id);
    table.objects.emplace(object->id, object);
    return reinterpret_cast<HINTERNET>(object->id);
}

ObjectRef FindHandle(HINTERNET handle) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool AttachTransfer(InternetObject& request, const std::shared_ptr<HttpTransfer>& transfer) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (request.closed) return false;
    request.transfer = transfer;
    return true;
}

bool CloseHandleTree(HINTERNET handle) {
    HandleTable& table = Handles();
    std::vector<ObjectRef> closed;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto id = reinterpret_cast<std::uintptr_t>(handle);
        if (table.objects.find(id) == table.objects.end()) return false;
        CloseLocked(table, id, closed);
    }
    // A call still inside one of these objects keeps it alive; the last one
    // out frees it, never while the table is locked.
    closed.clear();
    return true;
}

}  // namespace holwerk::posix
