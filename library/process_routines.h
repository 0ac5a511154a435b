// library/process_routines.h: the routine that ends the process, quit-return.
#pragma once

namespace zyl::process_routines {

// Defines quit-return. After the datatype words exist.
void init();

} // namespace zyl::process_routines
