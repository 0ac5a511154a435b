// tests/unit/memory_test.cpp: the memory manager: frames, buffers, expansion, nodes.
#include <gtest/gtest.h>

#include "runtime/memory.h"

using namespace zyl;

TEST(Memory, Smoke) {
    memory::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::new_series_frame();
    node_id n = series::alloc_bytes(10);
    EXPECT_EQ(memory::buffer_of(n)->size, 16u);
    memory::free_all();
}
