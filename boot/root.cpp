// boot/root.cpp: the root block and root-index access (root.h).
#include "boot/root.h"

#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "runtime/collector.h"
#include "runtime/common.h"

namespace zyl::root {

namespace {

uint32_t loaded = 0; // values of the boot-image load, from zylbin::boot_base() on

} // namespace

void make(uint32_t capacity) {
    collector::gc.root_block = series::alloc_unmanaged(capacity, sizeof(cell), 0);
    collector::gc.root_fixed = true;
    loaded = 0;
}

uint32_t load(std::span<const uint8_t> image) {
    node_id root = collector::gc.root_block;
    zylbin::load_boot_image(image, false);
    // The base is where this load began; what follows it in the block is the load's.
    cell* tail = block::cells_of(root) + series::length(root);
    loaded = uint32_t(tail - zylbin::boot_base());
    return loaded;
}

uint32_t count() { return loaded; }

cell* value_at(int32_t i) {
    if (i < 0 || uint32_t(i) >= loaded) runtime_error(RT_ASSERTION, __builtin_return_address(0));
    return zylbin::boot_base() + i;
}

node_id series_at(int32_t i) {
    const cell* v = value_at(i);
    if (!series::is_series_type(v->type())) runtime_error(RT_ASSERTION, __builtin_return_address(0));
    return v->w2;
}

node_id context_at(int32_t i) {
    const cell* v = value_at(i);
    switch (v->type()) {
    case T_object: case T_error: case T_function: case T_routine: return v->w1;
    default: runtime_error(RT_ASSERTION, __builtin_return_address(0));
    }
}

} // namespace zyl::root
