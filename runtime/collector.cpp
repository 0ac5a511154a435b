// runtime/collector.cpp: the collector's entry points.
//
// Marking and compaction are not here yet: a collection runs the hook when one is set (tests
// set one to stand in for it), frees retired heap buffers and counts itself, so memory grows
// until the mark phase exists. Nothing relies on a collection freeing anything.
#include "runtime/collector.h"

namespace zyl::collector {

state gc{};

void collect() {
    gc.collecting = true;
    if (gc.hook) gc.hook();
    memory::free_retired();
    gc.cycles++;
    gc.collecting = false;
}

void run_from_allocator() {
    if (gc.active) collect();
}

void queue_free_node(node_id n) { memory::free_node(memory::frame_of(n), n); }

} // namespace zyl::collector
