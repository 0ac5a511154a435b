// library/clipboard_routines.h: the routines of the clipboard, read-clipboard and
// write-clipboard.
#pragma once

namespace zyl::clipboard_routines {

// Adds the routines to the routine table and binds each to its global word.
void init();

} // namespace zyl::clipboard_routines
