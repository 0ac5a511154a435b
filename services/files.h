// services/files.h: the file service over POSIX: whole-file reads and writes, folder
// listings, deleting, renaming, sizes and the routines' small file questions.
//
// A file! names a POSIX path (datatypes/file_url.h). Files are read and written whole, never
// streamed through ports. A whole-file write replaces its target through a temporary file in
// the same folder and a rename, so a failed write never leaves a half-written file. Failures
// of the operating system raise access cannot-open with the file and the system's reason;
// the questions (delete, rename, exists?) answer false instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::files {

// Whether file [value] names a folder by its spelling: it ends in "/", or it is "." or "..",
// or it ends in "/." or "/..". An empty name is no folder.
bool is_dir_path(const cell* value);

// Reads file [source] whole into [out] (a rooted stack cell): a folder spelling is listed;
// else the bytes from [seek] (negative: from the start), at most [part] of them (negative:
// all), as a binary! with [binary], a block of lines with [lines], else as UTF-8 text.
// Raises access cannot-open when the system refuses.
cell* read(const cell* source, int64_t part, int64_t seek, bool binary, bool lines, cell* out);

// Makes [out] (a rooted stack cell) the value of bytes [p, p + n] as read gives it: a
// binary! with [binary], a block of LF-ended lines with [lines], else UTF-8 text (access
// invalid-utf8 when it is not). [p] must not lie in a series buffer.
cell* bytes_to_value(const uint8_t* p, size_t n, bool binary, bool lines, cell* out);

// Writes [data] to file [target], or to the standard output when [target] is null: a text as
// UTF-8, a binary! as its bytes, any other value molded; with [lines] a block's values each
// followed by LF (another value once with LF). [part] (null: all) limits the characters or
// bytes; a negative one writes nothing. [seek] >= 0 writes at that offset keeping the other
// bytes, [append] at the end. Raises script invalid-refine-arg for a part that is not an
// integer!, access cannot-open when the system refuses. Returns the bytes written.
int64_t write(const cell* target, const cell* data, const cell* part, int64_t seek, bool append, bool lines);

// Deletes the file, or the empty folder a folder spelling names; false when refused.
bool remove(const cell* value);
// Renames [from] to [to]; false when refused or when [to] exists (it is never replaced).
bool rename(const cell* from, const cell* to);
// Whether the system knows [value] (links followed).
bool exists(const cell* value);
// Creates the folder [value]; raises access no-create when refused.
void create_dir(const cell* value);
// The size in bytes of file [value]; -1 for a folder or a missing file.
int64_t size_of(const cell* value);
// The modification time of [value] as seconds and nanoseconds since 1970 UTC; false when it
// is missing, or named as a folder but is none.
bool modified(const cell* value, int64_t& seconds, int32_t& nanoseconds);

} // namespace zyl::files
