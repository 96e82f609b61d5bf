#include "base/pagecache.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

namespace {

// Lists of 12-byte block references; items are told apart by their size.
constexpr uint32_t P = 100, Q = 200, R = 300;

std::unique_ptr<List> listOf(std::initializer_list<uint32_t> sizes) {
    auto list = new_list(sizeof(BlockRef));
    for (uint32_t s : sizes) {
        const BlockRef r{s, nullptr};
        EXPECT_EQ(append(list.get(), &r), kListOk);
    }
    return list;
}

// One read: its result and the size of the item copied out (0 when none).
struct Read {
    int result;
    uint32_t size;
    bool operator==(const Read&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Read& r) {
    return os << "{" << r.result << ", " << r.size << "}";
}
template <int (*Op)(List*, void*)>
Read doRead(List* list) {
    BlockRef r{0, nullptr};
    const int result = Op(list, &r);
    return {result, r.size};
}
Read first(const std::unique_ptr<List>& l) {
    return doRead<read_first>(l.get());
}
Read last(const std::unique_ptr<List>& l) {
    return doRead<read_last>(l.get());
}
Read next(const std::unique_ptr<List>& l) {
    return doRead<read_next>(l.get());
}
Read prev(const std::unique_ptr<List>& l) {
    return doRead<read_prev>(l.get());
}

constexpr Read kNoMore{kListNoMore, 0};
Read ok(uint32_t size) {
    return {kListOk, size};
}

}  // namespace

TEST(PageCacheList, BlockRefIsSizeThenPointerWithoutGap) {
    EXPECT_EQ(sizeof(BlockRef), 12u);
    EXPECT_EQ(offsetof(BlockRef, data), 4u);
}

TEST(PageCacheList, CreationAndEmptyList) {
    EXPECT_EQ(new_list(0), nullptr);
    EXPECT_EQ(new_list(-1), nullptr);
    auto list = new_list(12);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->magic, 0x4C495354u) << "LIST";
    EXPECT_EQ(list_empty(list.get()), 1);
    for (Read r : {first(list), last(list), next(list), prev(list)})
        EXPECT_EQ(r.result, kListEmpty);
    EXPECT_EQ(_delete(list.get()), kListNoCurrent);
    EXPECT_EQ(ntransaction(list.get()), 0u) << "failures are not transactions";
}

TEST(PageCacheList, ItemsAreCopiedInAndOut) {
    uint8_t block[4] = {1, 2, 3, 4};
    auto list = new_list(sizeof(BlockRef));
    BlockRef in{sizeof block, block};
    ASSERT_EQ(append(list.get(), &in), kListOk);
    in.size = 999;  // the list holds its own copy
    BlockRef out{0, nullptr};
    ASSERT_EQ(read_first(list.get(), &out), kListOk);
    const uint32_t size = out.size;  // packed members are read by value, never bound
    const uint8_t* data = out.data;  // to a reference (data is not 8-byte aligned)
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data, block);
}

TEST(PageCacheList, CursorDirectionAndEnds) {
    auto list = listOf({P, Q, R});
    EXPECT_EQ(first(list), ok(P));
    EXPECT_EQ(next(list), ok(Q));
    EXPECT_EQ(next(list), ok(R));
    EXPECT_EQ(next(list), kNoMore);
    EXPECT_EQ(prev(list), ok(R)) << "the cursor stayed on R; turning returns it again";
    EXPECT_EQ(prev(list), ok(Q));

    list = listOf({P, Q, R});
    EXPECT_EQ(last(list), ok(R));
    EXPECT_EQ(next(list), ok(R)) << "first forward read after read_last";
    EXPECT_EQ(next(list), kNoMore);

    list = listOf({P, Q, R});
    EXPECT_EQ(prev(list), ok(R)) << "a fresh cursor: read_prev starts at the last";
    EXPECT_EQ(prev(list), ok(Q));
    EXPECT_EQ(prev(list), ok(P));
    EXPECT_EQ(prev(list), kNoMore);
    EXPECT_EQ(first(list), ok(P)) << "read_first keeps the backward direction, so";
    EXPECT_EQ(next(list), ok(P)) << "... the next forward read repeats P";
    EXPECT_EQ(next(listOf({P, Q})), ok(P)) << "a fresh cursor: read_next starts at the first";
}

TEST(PageCacheList, DeleteLeavesTheCursorBehindTheDirectionOfTravel) {
    auto list = listOf({P, Q, R});
    first(list);
    next(list);
    ASSERT_EQ(_delete(list.get()), kListOk) << "Q";
    EXPECT_EQ(_nitems(list.get()), 2);
    EXPECT_EQ(next(list), ok(R));

    list = listOf({P, Q, R});
    last(list);
    ASSERT_EQ(_delete(list.get()), kListOk) << "R";
    EXPECT_EQ(prev(list), ok(Q));
    EXPECT_EQ(last(list), ok(Q)) << "Q is the new last";

    list = listOf({P, Q, R});
    first(list);
    ASSERT_EQ(_delete(list.get()), kListOk) << "P";
    EXPECT_EQ(_delete(list.get()), kListNoCurrent) << "twice in a row";
    EXPECT_EQ(next(list), ok(Q));
    EXPECT_EQ(first(list), ok(Q)) << "Q is the new first";
}

TEST(PageCacheList, WalkingAndDeletingEveryItemThenReuse) {
    auto list = listOf({1, 2, 3, 4, 5, 6, 7});
    uint32_t seen = 0;
    for (Read r = first(list); r.result == kListOk; r = next(list)) {
        EXPECT_EQ(r.size, ++seen);
        ASSERT_EQ(_delete(list.get()), kListOk);
    }
    EXPECT_EQ(seen, 7u);
    EXPECT_EQ(list_empty(list.get()), 1);
    const BlockRef s{P, nullptr};
    EXPECT_EQ(append(list.get(), &s), kListOk) << "an emptied list takes items again";
    EXPECT_EQ(last(list), ok(P));
    EXPECT_EQ(delete_list(list), kListOk);
    EXPECT_EQ(list, nullptr);
}

TEST(PageCacheList, TransactionsCountSuccessfulChangesAndReads) {
    auto list = listOf({P, Q, R});
    first(list);
    _delete(list.get());
    EXPECT_EQ(ntransaction(list.get()), 5u) << "3 appends, a read, a delete";
    _delete(list.get());  // fails: no current node
    last(list);           // 6
    next(list);           // 7: R again
    next(list);           // fails: no more
    EXPECT_EQ(ntransaction(list.get()), 7u);
}

TEST(PageCacheList, WrongMagicChangesNothing) {
    auto list = listOf({P, Q});
    first(list);
    const uint64_t before = ntransaction(list.get());
    list->magic = 0;
    BlockRef item{R, nullptr};
    EXPECT_EQ(append(list.get(), &item), kListNotAList);
    EXPECT_EQ(read_first(list.get(), &item), kListNotAList);
    EXPECT_EQ(read_last(list.get(), &item), kListNotAList);
    EXPECT_EQ(read_next(list.get(), &item), kListNotAList);
    EXPECT_EQ(read_prev(list.get(), &item), kListNotAList);
    EXPECT_EQ(_delete(list.get()), kListNotAList);
    EXPECT_EQ(delete_list(list), kListNotAList);
    ASSERT_NE(list, nullptr) << "not released";
    const uint32_t size = item.size;
    EXPECT_EQ(size, R) << "nothing copied out";
    EXPECT_EQ(_nitems(list.get()), 2);
    EXPECT_EQ(ntransaction(list.get()), before);
    list->magic = kListMagic;
    EXPECT_EQ(next(list), ok(Q)) << "cursor untouched";
}

TEST(PageCacheList, NullListsAndBuffersAreRefused) {
    std::unique_ptr<List> none;
    BlockRef r{P, nullptr};
    EXPECT_EQ(delete_list(none), kListNotAList);
    EXPECT_EQ(append(nullptr, &r), kListNotAList);
    EXPECT_EQ(read_next(nullptr, &r), kListNotAList);
    EXPECT_EQ(_delete(nullptr), kListNotAList);
    EXPECT_EQ(list_empty(nullptr) * 10 + _nitems(nullptr), 10);

    auto list = listOf({P});
    EXPECT_EQ(append(list.get(), nullptr), kListNoBuffer);
    EXPECT_EQ(read_first(list.get(), nullptr), kListNoBuffer);
    EXPECT_EQ(_nitems(list.get()), 1);
    EXPECT_EQ(_delete(list.get()), kListNoCurrent) << "a refused read sets no cursor";
}

TEST(PageCacheList, RegressionLongListIsReleasedWithoutRecursion) {
    // Nodes own their successors; releasing them one by one keeps a long chain
    // from exhausting the stack.
    auto list = new_list(4);
    for (uint32_t i = 0; i < 200000; ++i)
        ASSERT_EQ(append(list.get(), &i), kListOk);
    EXPECT_EQ(delete_list(list), kListOk);
}
