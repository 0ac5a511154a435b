// tests/unit/reactivity_gc_test.cpp: reactive objects under the collector, with the whole
// run-time started: dropped deep-reactors leave neither owner entries nor memory behind, and
// an owned block that something else holds keeps its owner, which still hears changes.
#include <string>

#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct ReactivityGcTest : zyl::testing::StartedTest {
    // [full] normally; fewer under collection stress, where every allocation collects.
    static std::string count(int full, int stressed) {
        return std::to_string(mm.stress_every ? stressed : full);
    }
    static uint32_t owner_entries() { return hashtable::rec(owner::table())->size; }
};

TEST_F(ReactivityGcTest, DroppedDeepReactorsLeaveTheOwnerTableAndMemoryFlat) {
    std::string n = count(100000, 300);
    std::string round = "loop " + n + " [deep-reactor [list: [1 2 3] text: copy {abc}]] recycle";
    eval(round);
    uint32_t entries = owner_entries();
    uint64_t held = std::stoull(eval("recycle"));
    for (int i = 0; i < 3; i++) eval(round);
    EXPECT_LE(owner_entries(), entries);
    // The figure moves by a few segments with the heap's layout; one round's worth of leaked
    // reactors would be tens of megabytes.
    EXPECT_LE(std::stoull(eval("recycle")), held + (8u << 20));
}

// The owner object is reachable only through the entry of the block it owns.
TEST_F(ReactivityGcTest, AnOwnedBlockHeldElsewhereKeepsItsOwnerListening) {
    eval("heard: 0 kept: get in make object! [list: copy [1] on-deep-change*: func "
         "[owner word target action new index part] [heard: heard + 1]] 'list");
    eval("loop " + count(2000, 50) + " [deep-reactor [list: copy [0]]] recycle recycle");
    EXPECT_EQ(eval("append kept 2 heard"), "2"); // before and after the append
    EXPECT_EQ(eval("recycle append kept 3 heard"), "4");
    uint32_t entries = owner_entries();
    eval("kept: none recycle");
    EXPECT_EQ(owner_entries(), entries - 1);
}

} // namespace
