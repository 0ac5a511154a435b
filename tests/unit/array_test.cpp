// tests/unit/array_test.cpp: dynamic arrays and the cell helpers at a series tail.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/values.h"

using namespace zyl;

namespace {

struct ArrayTest : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
    }
    void TearDown() override { memory::free_all(); }
};

TEST_F(ArrayTest, EmptyArrays) {
    node_id a = array::alloc(0, 4);
    EXPECT_EQ(array::length(a), 0u);
    EXPECT_EQ(array::find_int(a, 5), -1);
    node_id p = array::alloc(0, 8);
    EXPECT_EQ(array::find_ptr(p, &a), -1);
    array::remove_ptr(p, &a);
    EXPECT_EQ(array::length(p), 0u);
}

TEST_F(ArrayTest, IntsGrowAndKeepTheirValues) {
    node_id a = array::alloc(2, 4);
    for (int i = 0; i < 1000; i++) array::append_int(a, i * 3);
    EXPECT_EQ(array::length(a), 1000u);
    EXPECT_EQ(array::pick_int(a, 1), 0);
    EXPECT_EQ(array::pick_int(a, 1000), 2997);
    EXPECT_EQ(array::find_int(a, 30), 40); // byte offset of element 11
    array::poke_int(a, 2, -7);
    EXPECT_EQ(array::pick_int(a, 2), -7);
    array::insert_int(a, 42, 0);
    EXPECT_EQ(array::pick_int(a, 1), 42);
    EXPECT_EQ(array::pick_int(a, 2), 0);
    EXPECT_EQ(array::length(a), 1001u);
    array::set_length(a, 1);
    EXPECT_EQ(array::length(a), 0u);
}

TEST_F(ArrayTest, InsertIntoAFullArray) {
    node_id a = array::alloc(4, 4);
    for (int i = 0; i < 4; i++) array::append_int(a, i);
    array::insert_int(a, 9, 2);
    int expect[] = {0, 1, 9, 2, 3};
    for (int i = 0; i < 5; i++) EXPECT_EQ(array::pick_int(a, i + 1), expect[i]);
}

TEST_F(ArrayTest, BytesAndPointers) {
    node_id a = array::alloc(1, 1);
    array::append_bytes(a, "hello", 5);
    array::append_byte(a, '!');
    EXPECT_EQ(array::length(a), 6u);
    EXPECT_EQ(array::pick_byte(a, 6), '!');
    array::remove_bytes(a, 1, 3);
    EXPECT_EQ(std::memcmp(memory::buffer_of(a)->head, "ho!", 3), 0);

    int x, y, z;
    node_id p = array::alloc(1, 8);
    array::append_ptr(p, &x);
    array::append_ptr(p, &y);
    array::append_ptr(p, &z);
    EXPECT_EQ(array::find_ptr(p, &y), 8);
    array::remove_ptr(p, &y);
    EXPECT_EQ(array::length(p), 2u);
    EXPECT_EQ(array::pick_ptr(p, 2), &z);
    node_id c = array::copy(p);
    EXPECT_EQ(array::flags(c) & SERIES_UNIT_MASK, 8u);
    EXPECT_EQ(array::pick_ptr(c, 1), &x);
}

TEST_F(ArrayTest, AppendUnsetCellDoublesAndKeepsTheNode) {
    node_id n = series::alloc_cells(2);
    cell block{T_block, 0, n, 0};
    for (int i = 0; i < 2; i++) series::alloc_tail_cell(&block)->w2 = i;
    EXPECT_EQ(memory::buffer_of(n)->size, 32u);
    cell* c = series::alloc_tail_cell(&block);
    series_buffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(c->type(), T_unset);
    EXPECT_EQ(series::length(n), 3u);
    EXPECT_EQ(reinterpret_cast<cell*>(b->head)[1].w2, 1u);
}

TEST_F(ArrayTest, AllocTailBytesGrowsEnough) {
    node_id n = series::alloc_bytes(16);
    series::alloc_tail_bytes(n, 10);
    uint8_t* at = series::alloc_tail_bytes(n, 100); // more than twice the size
    series_buffer* b = memory::buffer_of(n);
    EXPECT_EQ(at, b->head + 10);
    EXPECT_EQ(b->used_bytes(), 110u);
    EXPECT_LE(b->tail, b->end());
}

TEST_F(ArrayTest, CopyPart) {
    node_id n = series::alloc(8, 2, 0);
    series_buffer* b = memory::buffer_of(n);
    std::memcpy(b->tail, "aabbccdd", 8);
    b->tail += 8;
    b->flags |= SERIES_OWNED;
    node_id c = series::copy_part(n, 1, 2);
    series_buffer* cb = memory::buffer_of(c);
    EXPECT_EQ(cb->unit(), 2u);
    EXPECT_EQ(series::length(c), 2u);
    EXPECT_EQ(std::memcmp(cb->head, "bbcc", 4), 0);
    EXPECT_FALSE(cb->flags & SERIES_OWNED);
}

TEST(Cells, SetTypeAndCopy) {
    cell c{T_integer | CELL_NEW_LINE | 0x2000, 1, 2, 3};
    cells::set_type(&c, T_char_);
    EXPECT_EQ(c.type(), T_char_);
    EXPECT_EQ(c.header & ~CELL_TYPE_MASK, CELL_NEW_LINE | 0x2000u);
    cell d{};
    cells::copy(&c, &d);
    EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
    EXPECT_EQ(cells::copy(&d, &d), &d);
    EXPECT_EQ(d.w3, 3u);
}

} // namespace
