// library/routine_registry.h: the maker behind `routine` while the boot sources' top level
// runs: `name: routine spec [registry-name]` builds the routine! of a registry row.
#pragma once

namespace zyl::routine_registry {

// Binds the global word `routine` to the maker and forgets the rows made by an earlier run.
// The top level's last definition rebinds `routine` to the function that always raises.
void install_maker();

} // namespace zyl::routine_registry
