#include "base/pagecache.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

bool isList(const List* list) {
    return list != nullptr && list->magic == kListMagic;
}

// Copies the item of `node` out and makes it the cursor, travelling as told.
int readInto(List* list, ListNode* node, void* destination, int32_t movingBackward) {
    std::memcpy(destination, node->item.data(), node->item.size());
    list->current = node;
    list->movingBackward = movingBackward;
    list->currentValid = 1;
    ++list->transactions;
    return kListOk;
}

}  // namespace

List::~List() {
    // Detach each node before it goes so that no destructor recurses down the chain.
    std::unique_ptr<ListNode> node = std::move(first);
    while (node)
        node = std::move(node->next);
}

std::unique_ptr<List> new_list(int itemSize) {
    if (itemSize <= 0) return nullptr;
    try {
        auto list = std::make_unique<List>();
        list->itemSize = itemSize;
        return list;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int delete_list(std::unique_ptr<List>& list) {
    if (!isList(list.get())) return kListNotAList;
    list.reset();
    return kListOk;
}

int append(List* list, const void* item) {
    if (!isList(list)) return kListNotAList;
    if (item == nullptr) return kListNoBuffer;
    std::unique_ptr<ListNode> node;
    try {
        node = std::make_unique<ListNode>();
        const auto* bytes = static_cast<const uint8_t*>(item);
        node->item.assign(bytes, bytes + list->itemSize);
    } catch (const std::bad_alloc&) {
        return kListNoMemory;
    }
    ListNode* added = node.get();
    if (list->last == nullptr) {
        list->first = std::move(node);
    } else {
        added->prev = list->last;
        list->last->next = std::move(node);
    }
    list->last = added;
    ++list->count;
    ++list->transactions;
    return kListOk;
}

int read_first(List* list, void* destination) {
    if (!isList(list)) return kListNotAList;
    if (list->first == nullptr) return kListEmpty;
    if (destination == nullptr) return kListNoBuffer;
    return readInto(list, list->first.get(), destination, list->movingBackward);
}

int read_last(List* list, void* destination) {
    if (!isList(list)) return kListNotAList;
    if (list->last == nullptr) return kListEmpty;
    if (destination == nullptr) return kListNoBuffer;
    return readInto(list, list->last, destination, 1);
}

int read_next(List* list, void* destination) {
    if (!isList(list)) return kListNotAList;
    if (list->first == nullptr) return kListEmpty;
    if (destination == nullptr) return kListNoBuffer;
    ListNode* node = list->current;
    if (node == nullptr) {
        node = list->first.get();
    } else if (list->movingBackward == 0) {
        // Travelling forward: step on.  After backward travel the first forward
        // read returns the current item again.
        node = node->next.get();
        if (node == nullptr) return kListNoMore;
    }
    return readInto(list, node, destination, 0);
}

int read_prev(List* list, void* destination) {
    if (!isList(list)) return kListNotAList;
    if (list->last == nullptr) return kListEmpty;
    if (destination == nullptr) return kListNoBuffer;
    ListNode* node = list->current;
    if (node == nullptr) {
        node = list->last;
    } else if (list->movingBackward != 0) {
        // Travelling backward: step back.  After forward travel the first
        // backward read returns the current item again.
        node = node->prev;
        if (node == nullptr) return kListNoMore;
    }
    return readInto(list, node, destination, 1);
}

int _delete(List* list) {
    if (!isList(list)) return kListNotAList;
    if (list->currentValid == 0 || list->current == nullptr) return kListNoCurrent;

    ListNode* node = list->current;
    ListNode* before = node->prev;
    ListNode* after = node->next.get();
    // The cursor stays behind the direction of travel, so that the next read in
    // the same direction lands on the node that followed the deleted one.
    list->current = list->movingBackward != 0 ? after : before;

    // Take ownership of the node out of the chain, then relink its neighbours.
    std::unique_ptr<ListNode>& owner = before != nullptr ? before->next : list->first;
    std::unique_ptr<ListNode> removed = std::move(owner);
    owner = std::move(removed->next);
    if (after != nullptr) {
        after->prev = before;
    } else {
        list->last = before;
    }
    removed.reset();

    ++list->transactions;
    --list->count;
    list->currentValid = 0;
    return kListOk;
}

int list_empty(const List* list) {
    return list == nullptr || list->count == 0 ? 1 : 0;
}

int _nitems(const List* list) {
    return list == nullptr ? 0 : list->count;
}

uint64_t ntransaction(const List* list) {
    return list == nullptr ? 0 : list->transactions;
}
