// tests/unit/memory_test.cpp: the memory manager: frames, buffers, expansion, nodes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

using namespace zyl;

namespace {

struct MemoryTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
    }
    void TearDown() override {
        memory::free_all();
        collector::gc = {};
    }
    static int frame_count() {
        int n = 0;
        for (series_frame* f = mm.first_series_frame; f; f = f->next) n++;
        return n;
    }
    static series_frame* frame_holding(series_buffer* b) {
        auto* p = reinterpret_cast<uint8_t*>(b);
        for (series_frame* f = mm.first_series_frame; f; f = f->next)
            if (p >= f->data() && p < f->end) return f;
        return nullptr;
    }
};

TEST_F(MemoryTest, BufferLayoutAndFlags) {
    node_id n = series::alloc(3, 16, 0);
    series_buffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(b->size, 48u);
    EXPECT_EQ(b->unit(), 16u);
    EXPECT_EQ(b->head, b->data());
    EXPECT_EQ(b->tail, b->head);
    EXPECT_EQ(b->flags & ~SERIES_UNIT_MASK, SERIES_IN_USE | SERIES_ALLOCATED);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 16, 0u);
}

TEST_F(MemoryTest, ZeroUnitsStillTakesAHeader) {
    uint8_t* before = mm.current_series_frame->heap;
    node_id n = series::alloc(0, 1, 0);
    EXPECT_EQ(memory::buffer_of(n)->size, 0u);
    EXPECT_EQ(mm.current_series_frame->heap - before, BUFFER_OVERHEAD);
}

TEST_F(MemoryTest, SizesAreRoundedTo16) {
    struct { uint64_t count; uint32_t unit; uint32_t size; } cases[] = {
        {1, 1, 16}, {16, 1, 16}, {17, 1, 32}, {9, 2, 32}, {5, 4, 32}, {2, 16, 32},
    };
    for (auto& c : cases) EXPECT_EQ(memory::buffer_of(series::alloc(c.count, c.unit, 0))->size, c.size);
}

TEST_F(MemoryTest, HeadOffsets) {
    series_buffer* b = memory::buffer_of(series::alloc(8, 16, series::HEAD_MIDDLE));
    EXPECT_TRUE(b->flags & SERIES_MID_HEAD);
    EXPECT_EQ(b->head - b->data(), 64);
    // Half of an odd number of cells still lands on a cell boundary.
    b = memory::buffer_of(series::alloc(3, 16, series::HEAD_MIDDLE));
    EXPECT_EQ((b->head - b->data()) % 16, 0);
    b = memory::buffer_of(series::alloc(32, 1, 8));
    EXPECT_EQ(b->head - b->data(), 8);
}

TEST_F(MemoryTest, BigFrameThreshold) {
    // Aligned size + header reaching 2 MB goes to a big frame; one 16-byte step less does not.
    uint64_t at = SERIES_FRAME_MAX - BUFFER_OVERHEAD;
    series_buffer* big = memory::buffer_of(series::alloc(at, 1, 0));
    EXPECT_TRUE(big->flags & SERIES_BIG);
    EXPECT_EQ(frame_holding(big), nullptr);
    ASSERT_NE(mm.first_big_frame, nullptr);
    EXPECT_EQ(mm.first_big_frame->requested, uint64_t(SERIES_FRAME_MAX));
    series_buffer* small = memory::buffer_of(series::alloc(at - 16, 1, 0));
    EXPECT_FALSE(small->flags & SERIES_BIG);
    EXPECT_NE(frame_holding(small), nullptr);
    EXPECT_EQ(mm.first_big_frame->next, nullptr);
}

TEST_F(MemoryTest, FramesGrowOneThenTwoMegabytes) {
    EXPECT_EQ(mm.first_series_frame->end - mm.first_series_frame->data(), SERIES_FRAME_INITIAL);
    EXPECT_EQ(mm.next_frame_size, SERIES_FRAME_MAX);
    for (int i = 0; i < 40; i++) series::alloc(100000, 1, 0); // 4 MB in all
    EXPECT_GE(frame_count(), 3);
    int small = 0;
    for (series_frame* f = mm.first_series_frame; f; f = f->next) {
        if (f->end - f->data() == SERIES_FRAME_INITIAL) {
            small++;
        } else {
            EXPECT_EQ(f->end - f->data(), SERIES_FRAME_MAX);
        }
    }
    EXPECT_EQ(small, 1);
    for (series_frame* f = mm.first_series_frame; f && f->next; f = f->next) EXPECT_LT(f, f->next);
}

TEST_F(MemoryTest, LargeRequestSetsNextFrameSizeToMaximum) {
    memory::free_all();
    memory::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    mm.next_frame_size = SERIES_FRAME_INITIAL; // no frame yet: the first one is made on demand
    series::alloc(SERIES_FRAME_INITIAL + 64, 1, 0);
    EXPECT_EQ(mm.first_series_frame->end - mm.first_series_frame->data(), SERIES_FRAME_MAX);
}

// After a collection, a frame with room is reused only when it has FRAME_MIN_FREE bytes free.
TEST_F(MemoryTest, FrameReuseAfterCollection) {
    // Frames stay 16-byte aligned, so the nearest free sizes on both sides of the limit.
    const uint32_t enough = uint32_t(align_up(FRAME_MIN_FREE, 16));
    for (uint32_t left : {enough, enough - 16}) {
        SetUp();
        mm.stress_every = 0; // exactly one collection
        series_frame* first = mm.first_series_frame;
        uint64_t data = first->end - first->data();
        // A live buffer leaves [left] bytes behind it; a dead one fills the rest but 64 bytes.
        static node_id live;
        live = series::alloc(data - left - BUFFER_OVERHEAD, 1, 0);
        series::alloc(left - 64 - BUFFER_OVERHEAD, 1, 0);
        collector::gc.active = true;
        collector::add_mark_hook([] { collector::mark_series(live); });
        mm.collect_budget = 0; // the pacing lets this full frame collect at once
        series::alloc(1000, 1, 0);
        EXPECT_EQ(frame_count(), left == enough ? 1 : 2) << left;
        EXPECT_EQ(collector::gc.cycles, 1u);
        TearDown();
    }
}

TEST_F(MemoryTest, BeforeCollectionAnyFrameWithRoomServes) {
    series_frame* first = mm.first_series_frame;
    memory::new_series_frame();
    mm.current_series_frame = first->next ? first->next : first;
    mm.current_series_frame->heap = mm.current_series_frame->end - 64;
    series::alloc(1000, 1, 0);
    EXPECT_EQ(frame_count(), 2);
    EXPECT_EQ(collector::gc.cycles, 0u);
}

TEST_F(MemoryTest, ExpandDoublesAndMovesContentToOffsetZero) {
    node_id n = series::alloc(8, 4, series::HEAD_MIDDLE);
    series_buffer* b = memory::buffer_of(n);
    for (int i = 0; i < 4; i++) std::memcpy(b->tail + 4 * i, &i, 4);
    b->tail += 16;
    b = series::expand(n, 0);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->head, b->data());
    EXPECT_EQ(b->used_bytes(), 16u);
    EXPECT_FALSE(b->flags & SERIES_MID_HEAD);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(memory::buffer_of(n), b);
    for (int i = 0; i < 4; i++) {
        int v;
        std::memcpy(&v, b->head + 4 * i, 4);
        EXPECT_EQ(v, i);
    }
}

TEST_F(MemoryTest, ExpandAbandonsTheOldBuffer) {
    node_id n = series::alloc(4, 1, 0);
    series_buffer* old = memory::buffer_of(n);
    series::expand(n, 64);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_IN_USE);
}

TEST_F(MemoryTest, ZeroSizeBufferGrows) {
    node_id n = series::alloc(0, 16, 0);
    series_buffer* b = series::expand(n, 0);
    EXPECT_GE(b->size, 16u);
    b = series::expand(n, 0);
    EXPECT_GE(b->size, 32u);
}

TEST_F(MemoryTest, ExpandRecomputesBigFlag) {
    node_id n = series::alloc(SERIES_FRAME_MAX, 1, 0);
    EXPECT_TRUE(memory::buffer_of(n)->flags & SERIES_BIG);
    node_id m = series::alloc(16, 1, 0);
    EXPECT_TRUE(series::expand(m, SERIES_FRAME_MAX)->flags & SERIES_BIG);
    EXPECT_FALSE(series::copy_buffer(m) == m);
}

TEST_F(MemoryTest, ExpandFill) {
    node_id n = series::alloc_fill(16, 0xAB);
    series_buffer* b = memory::buffer_of(n);
    b->tail = b->head + 16;
    b = series::expand_fill(n, 64, 0xCD);
    for (int i = 0; i < 16; i++) EXPECT_EQ(b->head[i], 0xAB);
    for (int i = 16; i < 64; i++) EXPECT_EQ(b->head[i], 0xCD);
}

TEST_F(MemoryTest, CopyBufferKeepsUnitAndContent) {
    node_id n = series::alloc(4, 2, 4);
    series_buffer* b = memory::buffer_of(n);
    std::memcpy(b->tail, "abcd", 4);
    b->tail += 4;
    b->flags |= SERIES_OWNED;
    node_id c = series::copy_buffer(n);
    series_buffer* cb = memory::buffer_of(c);
    EXPECT_EQ(cb->unit(), 2u);
    EXPECT_EQ(cb->used_bytes(), 4u);
    EXPECT_EQ(std::memcmp(cb->head, "abcd", 4), 0);
    EXPECT_FALSE(cb->flags & SERIES_OWNED);
    EXPECT_EQ(series::length(c), 2u);
}

TEST_F(MemoryTest, TypedShortcuts) {
    EXPECT_EQ(memory::buffer_of(series::alloc_by_encoding(0, 4))->size / 4, 4u);
    EXPECT_EQ(memory::buffer_of(series::alloc_by_encoding(0, 2))->size / 2, 8u);
    EXPECT_EQ(memory::buffer_of(series::alloc_by_encoding(0, 1))->size, 16u);
    EXPECT_EQ(memory::buffer_of(series::alloc_bytes(0))->size, 16u);
    series_buffer* b = memory::buffer_of(series::alloc_cells_unset(3));
    auto* w = reinterpret_cast<uint32_t*>(b->data());
    for (int i = 0; i < 3; i++) EXPECT_EQ(w[4 * i], 2u);
}

TEST_F(MemoryTest, UnmanagedBuffersStayOutsideTheFrames) {
    node_id n = series::alloc_unmanaged(4, 16, 0);
    series_buffer* b = memory::buffer_of(n);
    EXPECT_TRUE(b->flags & SERIES_UNMANAGED);
    EXPECT_EQ(frame_holding(b), nullptr);
    std::memset(b->tail, 7, 64);
    b->tail += 64;
    b = series::expand(n, 0);
    EXPECT_TRUE(b->flags & SERIES_UNMANAGED);
    EXPECT_EQ(frame_holding(b), nullptr);
    EXPECT_EQ(b->used_bytes(), 64u);
    EXPECT_EQ(b->head[63], 7);
}

TEST_F(MemoryTest, OversizedRequestRaisesNoMemory) {
    try {
        series::alloc(uint64_t(1) << 40, 1, 0);
        FAIL();
    } catch (const error::raised& e) {
        EXPECT_EQ(e.category, error::cat_internal);
        EXPECT_EQ(e.id, error::internal_no_memory);
    }
}

TEST_F(MemoryTest, TotalCountsWhatIsHeld) {
    uint64_t before = mm.total;
    series_frame* f = memory::new_series_frame();
    EXPECT_EQ(mm.total - before, align_up(f->size + 16, 4096));
    memory::free_series_frame(f);
    EXPECT_EQ(mm.total, before);
    memory::free_all();
    EXPECT_EQ(mm.total, 0u);
}

TEST_F(MemoryTest, NodesAreReusedAndFramesSwept) {
    node_id a = memory::alloc_node();
    node_id b = memory::alloc_node();
    EXPECT_EQ(b, a + 1);
    node_frame* f = memory::frame_of(a);
    EXPECT_EQ(f->used, 2u);
    memory::free_node(f, b);
    EXPECT_EQ(memory::alloc_node(), b); // the free list is LIFO
    node_frame* g = memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::sweep_node_frames(); // g is empty and goes
    EXPECT_EQ(mm.last_node_frame, f);
    EXPECT_EQ(mm.current_node_frame, f);
    EXPECT_FALSE(g->live);
    EXPECT_EQ(f->history & 1, 0u);
    memory::sweep_node_frames();
    EXPECT_EQ(f->history & 1, 1u); // used count unchanged since the last sweep
}

TEST_F(MemoryTest, NodeFrameFillsThenANewOneIsMade) {
    std::vector<node_id> ids;
    for (uint32_t i = 0; i < NODE_FRAME_SLOTS + 5; i++) ids.push_back(memory::alloc_node());
    EXPECT_NE(mm.first_node_frame, mm.last_node_frame);
    EXPECT_EQ(memory::frame_of(ids.back()), mm.last_node_frame);
    for (node_id n : ids) EXPECT_EQ(*memory::slot_of(n), 0u); // fresh nodes hold 0
}

TEST_F(MemoryTest, SweepBigFramesFreesUnmarked) {
    node_id keep = series::alloc(SERIES_FRAME_MAX, 1, 0);
    series::alloc(SERIES_FRAME_MAX, 1, 0);
    memory::buffer_of(keep)->flags |= SERIES_MARK;
    memory::sweep_big_frames();
    ASSERT_NE(mm.first_big_frame, nullptr);
    EXPECT_EQ(mm.first_big_frame->next, nullptr);
    EXPECT_EQ(mm.first_big_frame->buffer()->node, keep);
    EXPECT_FALSE(memory::buffer_of(keep)->flags & SERIES_MARK);
}

TEST_F(MemoryTest, GcStressCollectsEveryN) {
    mm.stress_every = 3;
    series::alloc(1, 1, 0);
    EXPECT_EQ(collector::gc.cycles, 0u); // stress needs the collector switched on
    collector::gc.active = true;
    for (int i = 0; i < 8; i++) series::alloc(1, 1, 0);
    EXPECT_EQ(collector::gc.cycles, 3u);
}

TEST(RepeatFill, Counts) {
    for (uint64_t count : {0, 1, 2, 3, 1000}) {
        std::vector<uint8_t> buf(3 * 1000 + 1, 0xEE);
        buf[0] = 'a', buf[1] = 'b', buf[2] = 'c';
        uint8_t* end = memory::repeat_fill(buf.data(), 3, count);
        EXPECT_EQ(end, buf.data() + 3 * count);
        for (uint64_t i = 0; i < 3 * count; i++) {
            ASSERT_EQ(buf[i], "abc"[i % 3]) << count;
        }
        if (count > 1) {
            EXPECT_EQ(buf[3 * count], 0xEE);
        }
    }
}

} // namespace
