// tests/unit/collector_test.cpp: the collector: what survives, what moves, what is given back.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

struct CollectorTest : zyl::testing::RuntimeTest {
    node_id root = 0;
    void SetUp() override {
        RuntimeTest::SetUp();
        extres::init();
        root = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.root_block = root;
        collector::gc.active = true;
    }
    void TearDown() override {
        collector::gc = {};
        extres::shutdown();
        RuntimeTest::TearDown();
    }
    cell* root_cells() { return reinterpret_cast<cell*>(memory::buffer_of(root)->head); }
    // Appends [v] to the root block; returns its position.
    size_t add_root(const cell& v) {
        series::append_value(root, v);
        return series::length(root) - 1;
    }
    cell make_string(const std::string& text) {
        cell s;
        string::make_at(&s, 16);
        collector::keep k_s(&s); // appending may collect
        string::concatenate_literal(&s, text);
        return s;
    }
};

TEST_F(CollectorTest, StringsSurviveWithTheirContents) {
    node_id block = series::alloc_cells(16);
    add_root(cell{T_block, 0, block, 0});
    const int count = mm.stress_every ? 2000 : 20000; // under stress every allocation collects
    for (int i = 0; i < count; i++) {
        cell s = make_string("string number " + std::to_string(i));
        series::append_value(block, s);
        series::alloc_bytes(64); // garbage between the live strings
    }
    collector::collect();
    collector::collect();
    ASSERT_EQ(series::length(block), uint64_t(count));
    auto* c = reinterpret_cast<cell*>(memory::buffer_of(block)->head);
    for (int i = 0; i < count; i++) ASSERT_EQ(string::to_std(&c[i]), "string number " + std::to_string(i));
}

TEST_F(CollectorTest, AppendedCopiesKeepTheirCount) {
    node_id block = series::alloc_cells(1);
    add_root(cell{T_block, 0, block, 0});
    cell v{T_integer, 0, 7, 0};
    for (int i = 0; i < 100000; i++) series::append_value(block, v);
    collector::collect();
    EXPECT_EQ(series::length(block), 100000u);
    EXPECT_EQ(reinterpret_cast<cell*>(memory::buffer_of(block)->head)[99999].w2, 7u);
}

TEST_F(CollectorTest, SelfContainingBlockSurvives) {
    node_id block = series::alloc_cells(2);
    series::append_value(block, cell{T_block, 0, block, 0});
    series::append_value(block, cell{T_integer, 0, 42, 0});
    add_root(cell{T_block, 0, block, 0});
    collector::collect();
    auto* c = reinterpret_cast<cell*>(memory::buffer_of(block)->head);
    EXPECT_EQ(c[0].w2, block);
    EXPECT_EQ(c[1].w2, 42u);
}

TEST_F(CollectorTest, BigStringIsGivenBackOnceDropped) {
    cell s = make_string(std::string(3 << 20, 'x'));
    size_t at = add_root(s);
    EXPECT_TRUE(memory::buffer_of(s.w2)->flags & SERIES_BIG);
    collector::collect();
    EXPECT_EQ(string::to_std(&root_cells()[at]).size(), size_t(3) << 20);
    uint64_t before = mm.total;
    root_cells()[at] = none_value;
    collector::collect();
    EXPECT_LE(mm.total + (3 << 20), before);
    EXPECT_EQ(mm.first_big_frame, nullptr);
}

TEST_F(CollectorTest, PinnedPointerMovesWithItsBuffer) {
    zyl::testing::no_stress exact_layout;
    series::alloc_bytes(4096); // dead: the live buffer behind it slides down
    cell s = make_string("pinned text");
    add_root(s);
    uint8_t* before = memory::buffer_of(s.w2)->head;
    uint8_t* p = before + 3;
    {
        collector::pin guard(&p);
        collector::collect();
    }
    uint8_t* after = memory::buffer_of(s.w2)->head;
    EXPECT_NE(after, before);
    EXPECT_EQ(p, after + 3);
    EXPECT_EQ(std::memcmp(p, "ned", 3), 0);
}

// Buffers that move by different distances, or not at all: each pointer follows its own
// buffer, one at the very end of a full buffer (where the next buffer starts) included.
TEST_F(CollectorTest, EachPinnedPointerMovesByItsOwnBuffersDistance) {
    zyl::testing::no_stress exact_layout;
    auto live_bytes = [&](uint64_t n) {
        node_id b = series::alloc_bytes(n);
        add_root(cell{T_binary, 0, b, 0});
        return b;
    };
    node_id still = live_bytes(64); // nothing dead before it
    series::alloc_bytes(4096);
    node_id full = live_bytes(32);
    memory::buffer_of(full)->tail = memory::buffer_of(full)->end();
    series::alloc_bytes(1024);
    node_id last = live_bytes(64);
    auto head = [](node_id n) { return memory::buffer_of(n)->head; };
    uint8_t* old_still = head(still);
    uint8_t* old_full = head(full);
    uint8_t* old_last = head(last);
    uint8_t* p_still = old_still + 10;
    uint8_t* p_end = memory::buffer_of(full)->end(); // also the next buffer's first byte
    uint8_t* p_last = old_last;
    {
        collector::pin g_still(&p_still), g_end(&p_end), g_last(&p_last);
        collector::collect();
    }
    EXPECT_EQ(head(still), old_still);
    EXPECT_EQ(p_still, old_still + 10);
    ptrdiff_t d_full = head(full) - old_full;
    ptrdiff_t d_last = head(last) - old_last;
    EXPECT_LT(d_full, 0);
    EXPECT_LT(d_last, d_full);
    EXPECT_EQ(p_end, memory::buffer_of(full)->end());
    EXPECT_EQ(p_last, head(last));
}

TEST_F(CollectorTest, KeepGuardsRootCellsAndNodes) {
    cell s = make_string("kept");
    node_id n = 0;
    {
        collector::keep k_s(&s);
        collector::keep_node k_n(&n);
        n = series::alloc_bytes(16);
        collector::collect();
        EXPECT_EQ(string::to_std(&s), "kept");
        EXPECT_EQ(memory::buffer_of(n)->node, n);
    }
    uint32_t used = memory::frame_of(n)->used;
    collector::collect();
    EXPECT_EQ(memory::frame_of(n)->used, used - 2); // both nodes freed
}

// Guards nested without end (a runaway recursion) give the catalogued error, not a crash,
// and the stack is usable again once they are gone.
TEST_F(CollectorTest, AFullKeepStackRaisesStackOverflow) {
    cell v = none_value;
    std::vector<std::unique_ptr<collector::keep>> guards;
    EXPECT_TRUE(zyl::testing::raises(error::cat_internal, error::internal_stack_overflow, [&] {
        for (uint32_t i = 0; i <= collector::KEEP_CAPACITY; i++)
            guards.push_back(std::make_unique<collector::keep>(&v));
    }));
    EXPECT_LT(guards.size(), size_t(collector::KEEP_CAPACITY));
    guards.clear();
    cell s = make_string("kept again");
    collector::keep k_s(&s);
    collector::collect();
    EXPECT_EQ(string::to_std(&s), "kept again");
}

TEST_F(CollectorTest, AbandonedBufferIsReclaimed) {
    node_id block = series::alloc_cells(1);
    add_root(cell{T_block, 0, block, 0});
    uint32_t used = memory::frame_of(block)->used;
    series::expand(block, 4096); // abandons the old buffer
    auto bytes_in_frames = [] {
        uint64_t n = 0;
        for (series_frame* f = mm.first_series_frame; f; f = f->next) n += f->heap - f->data();
        return n;
    };
    uint64_t before = bytes_in_frames();
    collector::collect();
    EXPECT_LE(bytes_in_frames() + BUFFER_OVERHEAD + sizeof(cell), before);
    EXPECT_EQ(memory::frame_of(block)->used, used); // no node was touched
}

TEST_F(CollectorTest, ValuesHeldOnlyByAnUnmanagedBlockSurviveEveryCollection) {
    node_id fixed = series::alloc_unmanaged(4, sizeof(cell), 0);
    add_root(cell{T_block, 0, fixed, 0});
    cell s = make_string("held by a fixed block");
    series::append_value(fixed, s);
    for (int i = 0; i < 3; i++) collector::collect();
    EXPECT_EQ(string::to_std(&s), "held by a fixed block");
}

TEST_F(CollectorTest, StackCellsAreRoots) {
    cell w{T_word, 0, 5, 0};
    stack::mark_native(&w);
    cell s = make_string("on the stack");
    stack::push(&s);
    collector::collect();
    EXPECT_EQ(string::to_std(stack::top()), "on the stack");
}

// A bare error holds its arguments in word 1 and its message id in word 3: the arguments
// live on, and the id is never taken for a node, whatever node has that number.
TEST_F(CollectorTest, BareErrorsKeepTheirArgumentsAndNotTheNodeTheirIdNames) {
    node_id args = series::alloc_cells(3);
    size_t at = add_root(cell{T_block, 0, args, 0}); // rooted while it is filled
    cell text = make_string("argument");
    series::append_value(args, text);
    node_id dropped = series::alloc_bytes(16); // reachable from nothing
    root_cells()[at] = cell{T_error, args, uint32_t(error::cat_script), dropped};
    collector::collect();
    EXPECT_EQ(*memory::slot_of(dropped) & 1, 1u); // a free slot: the node was freed
    cell kept = reinterpret_cast<cell*>(memory::buffer_of(args)->head)[0];
    EXPECT_EQ(string::to_std(&kept), "argument");
}

int released;
void release_counter(void*) { released++; }

TEST_F(CollectorTest, ResourceIsReleasedByTheFirstCollectionAfterItsValueDies) {
    uint32_t kind = extres::push(1, release_counter);
    int32_t index = extres::register_resource(&released, kind);
    uint32_t generation = extres::at(index)->generation;
    size_t at = add_root(cell{T_handle, 0, 0, static_cast<uint32_t>(index)});
    released = 0;
    collector::collect();
    EXPECT_EQ(released, 0);
    root_cells()[at] = none_value;
    collector::collect();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(extres::resource_of(index, generation), nullptr);
    int32_t again = extres::register_resource(&kind, kind); // reuses the entry
    EXPECT_EQ(again, index);
    EXPECT_EQ(extres::resource_of(index, generation), nullptr); // a stale handle finds nothing
}

// Kind 0, or a kind without a release function, releases nothing; replace and an explicit
// release go through the kind's function; for_each_of_kind sees the entries of one kind.
TEST_F(CollectorTest, ResourcesReleaseOnlyThroughTheirKind) {
    uint32_t counting = extres::push(1, release_counter);
    uint32_t silent = extres::push(2, nullptr);
    int a = 0, b = 0;
    int32_t none_kind = extres::register_resource(&a, 0);
    int32_t no_fn = extres::register_resource(&a, silent);
    int32_t counted = extres::register_resource(&a, counting);
    released = 0;
    extres::replace(counted, &a); // the same resource: nothing released
    EXPECT_EQ(released, 0);
    extres::replace(counted, &b);
    EXPECT_EQ(released, 1);
    static int visits;
    visits = 0;
    extres::for_each_of_kind(counting, [](void*) { visits++; });
    EXPECT_EQ(visits, 1);
    extres::release(counted, true);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(extres::at(counted)->flags, extres::FREE);
    collector::collect(); // no value marks the other two: freed, nothing released
    EXPECT_EQ(released, 2);
    EXPECT_EQ(extres::at(none_kind)->flags, extres::FREE);
    EXPECT_EQ(extres::at(no_fn)->flags, extres::FREE);
}

TEST(Extres, TableDoublesBeforeTheLastFreeEntry) {
    extres::init();
    for (uint32_t i = 0; i < extres::INITIAL_ENTRIES - 1; i++) extres::register_resource(nullptr, 0);
    EXPECT_EQ(extres::capacity(), extres::INITIAL_ENTRIES);
    extres::register_resource(nullptr, 0);
    EXPECT_EQ(extres::capacity(), 2 * extres::INITIAL_ENTRIES);
    extres::shutdown();
}

TEST_F(CollectorTest, LastFrameIsNeverReleased) {
    collector::gc.active = false; // no collection while the frames fill
    for (int i = 0; i < 60; i++) series::alloc_bytes(64 * 1024); // all dead, over two frames
    ASSERT_NE(mm.first_series_frame, mm.last_series_frame);
    collector::collect();
    EXPECT_NE(mm.first_series_frame, nullptr);
    EXPECT_EQ(mm.first_series_frame, mm.last_series_frame);
}

TEST_F(CollectorTest, ChurnRunsInFlatMemory) {
    node_id keep = series::alloc_cells(4);
    add_root(cell{T_block, 0, keep, 0});
    uint64_t peak = 0;
    for (int i = 0; i < 1000000; i++) {
        node_id b = series::alloc_cells(4);
        series::append_value(b, cell{T_integer, 0, uint32_t(i), 0});
        cell s = make_string("churn");
        if (i % 100000 == 0) series::append_value(keep, s);
        peak = std::max(peak, mm.total);
    }
    EXPECT_LT(peak, uint64_t(16) << 20);
    EXPECT_GT(collector::gc.cycles, 10u);
    EXPECT_EQ(series::length(keep), 10u);
    EXPECT_EQ(string::to_std(&reinterpret_cast<cell*>(memory::buffer_of(keep)->head)[9]), "churn");
}

TEST_F(CollectorTest, AGrowingLiveHeapCollectsByItsGrowthNotByEveryFrame) {
    node_id block = series::alloc_cells(16);
    add_root(cell{T_block, 0, block, 0});
    const int count = mm.stress_every ? 2000 : 16384; // 64 MB of live buffers, all kept
    uint32_t before = collector::gc.cycles;
    for (int i = 0; i < count; i++) {
        node_id b = series::alloc_fill(4000, uint8_t(i));
        series::append_value(block, cell{T_binary, 0, b, 0});
    }
    // One collection per full frame would be more than thirty; growth by half the survivors
    // each time takes about eight.
    if (!mm.stress_every) {
        EXPECT_LE(collector::gc.cycles - before, 12u);
    }
    collector::collect();
    ASSERT_EQ(series::length(block), uint64_t(count));
    auto* c = reinterpret_cast<cell*>(memory::buffer_of(block)->head);
    for (int i = 0; i < count; i += 997) ASSERT_EQ(memory::buffer_of(c[i].w2)->head[3999], uint8_t(i));
}

} // namespace
