// library/routine_registry.h: the maker behind `routine` while the boot sources' top level
// runs: `name: routine spec [registry-name]` builds the routine! of a registry row.
#pragma once

#include <cstdint>

namespace zyl::routine_registry {

// Binds the global word `routine` to the maker and forgets the rows made by an earlier run.
// The top level's last definition rebinds `routine` to the function that always raises.
void install_maker();
// Whether the top level of this run made registry row [index].
bool was_made(int32_t index);

} // namespace zyl::routine_registry
