// Page cache list: a doubly linked list of fixed-size items stored by value,
// with a cursor that remembers the direction of travel.  The copies logic keeps
// in it, per page side, the references (BlockRef) to its copied raster blocks so
// that the page can be sent again.  Main thread only; nothing is locked.
//
// Ownership: new_list() hands out the list as a std::unique_ptr<List>; the list
// owns its nodes (first -> next -> ... chain of unique_ptrs, with plain back
// links), and releasing the List releases every node.  delete_list() takes the
// owning pointer and releases the list only when its header is sound: a record
// whose magic is wrong gets kListNotAList and is left as it is, like every
// other operation on it (its owner still frees the memory when it goes).  A
// null List* counts as "not a list" too.
//
// Items are copied in and out, itemSize bytes each; the list never keeps a
// pointer to the caller's item.  A BlockRef item's data pointer is not owned by
// the list: whoever appended it releases the block.
//
// Cursor: `current` is the node of the last read, or none.  The first
// read_next() returns the first item and the first read_prev() the last.  The
// first read against the direction of travel returns the current item again.
// _delete() removes the current node and leaves the cursor on its neighbour
// behind the direction of travel, so that the next read in the same direction
// returns the node that followed the deleted one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Results of the list operations.
inline constexpr int kListOk = 0;
inline constexpr int kListEmpty = 1;      // the list holds no item
inline constexpr int kListNoMore = 2;     // no further node in the direction asked
inline constexpr int kListNotAList = 3;   // null, or the header's magic is wrong
inline constexpr int kListNoCurrent = 4;  // _delete without a successful read before it
inline constexpr int kListNoMemory = 5;   // a node could not be allocated
inline constexpr int kListNoBuffer = 6;   // append without an item, read without a destination

// The letters "LIST" read as a big-endian number.
inline constexpr uint64_t kListMagic = 0x4C495354;

struct ListNode {
    std::unique_ptr<ListNode> next;  // owns the rest of the chain
    ListNode* prev = nullptr;
    std::vector<uint8_t> item;  // itemSize bytes
};

struct List {
    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    // Releases the nodes one by one (a long chain must not recurse).
    ~List();

    std::unique_ptr<ListNode> first;
    ListNode* last = nullptr;
    ListNode* current = nullptr;  // the cursor
    uint64_t magic = kListMagic;
    int32_t itemSize = 0;
    int32_t count = 0;
    uint64_t transactions = 0;   // successful changes and reads
    int32_t movingBackward = 0;  // direction of the last travel: 1 backward, 0 forward
    int32_t currentValid = 0;    // 1 after a successful read, 0 at creation and after _delete
};

// A new empty list of items of itemSize bytes; null when itemSize is not
// positive or memory runs out.
std::unique_ptr<List> new_list(int itemSize);

// Releases the list and all its nodes and resets `list`: kListOk.  kListNotAList,
// with nothing released, for a null pointer or a wrong magic.
int delete_list(std::unique_ptr<List>& list);

// Copies itemSize bytes from `item` into a new node after the last one.  The
// cursor does not move.  kListOk, kListNotAList, kListNoBuffer, kListNoMemory.
int append(List* list, const void* item);

// Reads copy itemSize bytes of the node they land on into `destination`.
// kListOk, kListEmpty, kListNotAList or kListNoBuffer; read_next and read_prev
// also kListNoMore, with nothing changed, when the cursor is at the end.
// read_first leaves the direction as it is; read_last sets it to backward.
int read_first(List* list, void* destination);
int read_last(List* list, void* destination);
int read_next(List* list, void* destination);
int read_prev(List* list, void* destination);

// Removes the node of the last successful read.  kListOk, kListNotAList, or
// kListNoCurrent when there was no read since creation or the last _delete.
int _delete(List* list);

// 1 when the list holds no item (or is null), else 0.
int list_empty(const List* list);
// Number of items (0 for null).
int _nitems(const List* list);
// Number of successful appends, reads and deletes (0 for null).
uint64_t ntransaction(const List* list);

// The item of the page lists: the byte size of a cached raster block followed
// directly, with no gap, by the address of the block copy (not owned by the list).
// Being packed, `data` sits at offset 4: read the members by value, never bind
// a reference or take a pointer to them (that would be a misaligned access).
#pragma pack(push, 1)
struct BlockRef {
    uint32_t size;
    uint8_t* data;
};
#pragma pack(pop)
static_assert(sizeof(BlockRef) == 12, "a block reference is 12 bytes: uint32 size + pointer");
