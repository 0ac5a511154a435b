// tests/unit/root_block_test.cpp: the root block: root indexes reach the boot image's values
// whatever the block held before, its cells stay put through collections, and a bad index, a
// mistyped accessor or an append past its capacity end the process with runtime error 98.
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "boot/root.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "runtime/values.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct RootBlockTest : zyl::testing::StartedTest {
    node_id started_root = 0;

    // Replaces the root block with one of [capacity] cells that holds one cell (1000), then
    // loads an image of the values of the block that [src] evaluates to. Answers how many it
    // appended.
    uint32_t load_fresh(uint32_t capacity, const char* src) {
        cell* top = es.top;
        cell* code = runtime::load_text(reinterpret_cast<const uint8_t*>(src), std::strlen(src));
        cell w = word::load("test");
        stack::mark_try(&w);
        interp::eval_block(code, true);
        cell* values = es.base; // the writer allocates nothing the collector sees
        zylbin::writer out(zylbin::LAYOUT_COMPACT, zylbin::MODE_BOOT);
        for (uint32_t i = 0; i < block::rs_length_q(values); i++) out.record(block::rs_head(values) + i);
        std::vector<uint8_t> image = out.finish();
        stack::pop_frame();
        es.top = top;
        started_root = collector::gc.root_block;
        root::make(capacity);
        series::append_value(collector::gc.root_block, integer::make_value(1000));
        return root::load(image);
    }
    void TearDown() override {
        if (started_root) collector::gc.root_block = started_root; // stop releases the started one
        StartedTest::TearDown();
    }
};

TEST_F(RootBlockTest, BootValuesKeepTheirAddressesAndContentThroughCollections) {
    ASSERT_EQ(root::count(), runtime::boot_image.values);
    EXPECT_EQ(root::value_at(0), block::cells_of(collector::gc.root_block));
    // Index 0 is the first boot source: a block, whose cells must survive with it.
    cell* first = root::value_at(0);
    cell* last = root::value_at(int32_t(root::count() - 1));
    ASSERT_EQ(first->type(), T_block);
    cell saved = *first;
    uint32_t length = block::rs_length_q(first);
    cell head = *block::rs_head(first);
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 4000; i++) series::alloc_bytes(256); // garbage below the live buffers
        collector::collect();
    }
    EXPECT_EQ(root::value_at(0), first);
    EXPECT_EQ(root::value_at(int32_t(root::count() - 1)), last);
    EXPECT_EQ(std::memcmp(first, &saved, sizeof saved), 0);
    ASSERT_EQ(block::rs_length_q(first), length);
    EXPECT_EQ(std::memcmp(block::rs_head(first), &head, sizeof head), 0);
}

TEST_F(RootBlockTest, IndexZeroIsTheFirstImageValueWhateverTheBlockHeldBefore) {
    ASSERT_EQ(load_fresh(8, R"(reduce [[1 2] "three" make object! [a: 4]])"), 3u);
    node_id r = collector::gc.root_block;
    EXPECT_EQ(integer::get(block::cells_of(r)), 1000) << "the cell from before stays first in the block";
    EXPECT_EQ(root::value_at(0), block::cells_of(r) + 1);
    EXPECT_EQ(root::count(), 3u);
    // The typed accessors answer nodes, not the index word of a series cell.
    cell* blk = root::value_at(0);
    blk->w1 = 1; // a block at its second value: the node is still word 2
    EXPECT_EQ(root::series_at(0), blk->w2);
    EXPECT_EQ(integer::get(block::cells_of(root::series_at(0))), 1);
    EXPECT_EQ(string::to_std(root::value_at(1)), "three");
    EXPECT_EQ(root::context_at(2), object::context_of(root::value_at(2)));
    // Filling the block to its capacity never moves it.
    cell* base = root::value_at(0);
    while (series::length(r) < 8) series::append_value(r, none_value);
    EXPECT_EQ(root::value_at(0), base);
}

using RootBlockDeathTest = RootBlockTest;

TEST_F(RootBlockDeathTest, MisuseIsAFatalInternalError) {
    ASSERT_EQ(load_fresh(4, "[[1] 2]"), 2u);
    node_id r = collector::gc.root_block;
    const char* report = "\\*\\*\\* Runtime Error 98: assertion failed";
    EXPECT_EXIT((dup2(2, 1), root::value_at(2)), ::testing::ExitedWithCode(98), report) << "one past the loaded values";
    EXPECT_EXIT((dup2(2, 1), root::value_at(-1)), ::testing::ExitedWithCode(98), report);
    EXPECT_EXIT((dup2(2, 1), root::series_at(1)), ::testing::ExitedWithCode(98), report) << "an integer has no series";
    EXPECT_EXIT((dup2(2, 1), root::context_at(0)), ::testing::ExitedWithCode(98), report) << "a block has no context";
    series::append_value(r, none_value); // the last free cell
    EXPECT_EXIT((dup2(2, 1), series::append_value(r, none_value)), ::testing::ExitedWithCode(98), report)
        << "an append past the capacity";
    EXPECT_EQ(series::length(r), 4u);
}

} // namespace
