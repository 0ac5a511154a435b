// runtime/platform/tui_hooks.h: the calls the operating-system layer makes into the terminal UI.
//
// The terminal UI is built above the run-time, so the run-time reaches it only through these
// pointers. Each stays null while no terminal UI exists; the UI sets them when it starts and
// callers skip a null hook. They do something only while the UI is active.
#pragma once

namespace zyl::tui {

using hook = void (*)();

// Runs one pass of the UI's event loop; `wait` calls it after sleeping.
inline hook do_events = nullptr;
// Resets the colours, flushes the UI's output and restores the saved terminal modes;
// console::print_string calls it before writing.
inline hook restore_terminal = nullptr;
// Sets the UI's terminal modes again and asks for the cursor position;
// console::print_string calls it after writing.
inline hook resume_terminal = nullptr;

} // namespace zyl::tui
