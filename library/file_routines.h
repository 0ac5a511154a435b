// library/file_routines.h: the routines that reach the file service and the system
// description: exists?, create-dir, write-stdout, get-current-dir, set-current-dir, os-info.
#pragma once

namespace zyl::file_routines {

// Adds the routines to the routine table and binds each to its global word.
void init();

} // namespace zyl::file_routines
