// The list of all per-thread values, destroyed at program end.
#include "platform/thread_slot.h"

#include <atomic>
#include <mutex>
#include <new>

namespace px::platform {
namespace {

struct Node {
    void* value;
    SlotDestroy destroy;
    Node* next;
};

std::atomic<bool> g_listGone{false};

struct StateList {
    std::mutex lock;
    Node* head = nullptr;

    ~StateList()
    {
        std::lock_guard guard(lock);
        g_listGone = true;
        while (head) {
            Node* next = head->next;
            head->destroy(head->value);
            delete head;
            head = next;
        }
    }
};

StateList& List()
{
    static StateList list;
    return list;
}

}  // namespace

bool Ending() noexcept
{
    return g_listGone;
}

bool KeepUntilExit(void* value, SlotDestroy destroy) noexcept
{
    if (g_listGone)
        return false;
    Node* node = new (std::nothrow) Node{value, destroy, nullptr};
    if (!node)
        return false;
    StateList& list = List();
    std::lock_guard guard(list.lock);
    if (g_listGone) {
        delete node;
        return false;
    }
    node->next = list.head;
    list.head = node;
    return true;
}

}  // namespace px::platform
