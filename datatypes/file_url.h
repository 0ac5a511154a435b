// datatypes/file_url.h: url! and file!, text series that name resources: percent coding,
// path joining, URL assembly and the local form of file names.
//
// Both keep their text exactly as string! does (datatypes/string.h): a series cell over a
// text buffer of 1, 2 or 4 bytes a character. url! is string!'s child and file! is url!'s,
// so they share every entry that treats them as text. A file! is a POSIX path: "/" separates
// its parts, ":" is an ordinary character and there are no drive letters.
//
// Reading, writing, deleting, renaming and querying files reach the file service
// (services/files.h); http and https URLs reach the HTTP service (services/http.h), other
// schemes their ports.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::url {

// {== Character classes (code points below 128; nothing at or above 128 is in a class)

struct char_class {
    bool has[128];
};

constexpr char_class make_class(std::string_view members) {
    char_class k{};
    for (char c : members) k.has[static_cast<uint8_t>(c)] = true;
    return k;
}

constexpr std::string_view DIGITS_AND_LETTERS =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// What a file name may hold without quotes, and what URL molding keeps as it is.
inline constexpr char_class FILE_SAFE = [] {
    char_class k = make_class("!#$&'()*+,-./:=?@_~");
    for (char c : DIGITS_AND_LETTERS) k.has[static_cast<uint8_t>(c)] = true;
    return k;
}();
// What `enhex` keeps in strict mode.
inline constexpr char_class URL_STRICT = [] {
    char_class k = make_class("-._~");
    for (char c : DIGITS_AND_LETTERS) k.has[static_cast<uint8_t>(c)] = true;
    return k;
}();

inline bool in_class(const char_class& k, uint32_t c) { return c < 128 && k.has[c]; }

// The encoding mode of the strict class; any other mode uses the file-safe class.
constexpr uint32_t MODE_STRICT = 254;

// }==
// {== Percent coding

// The text of byte [b] under [mode] into [out] (room for 3): the byte itself when it is below
// 128 and in the mode's class, else "%" and two uppercase hexadecimal digits. Returns the
// length (1 or 3).
uint32_t encode_byte(uint32_t mode, uint8_t b, char* out);
// Whether the text of [text] at absolute position [pos] reads "%" and two hexadecimal
// digits; then [b] receives the byte.
bool decode_hex_pair(const cell* text, uint32_t pos, uint8_t& b);
// Appends to string [target] the text of [text] (from its index) with its %XX escapes
// decoded: runs of escapes that form one UTF-8 sequence become its code point, a lone escape
// of a byte that leads no sequence becomes that byte's code point, everything else is copied.
// A run that is not valid UTF-8 raises access invalid-utf8. Both must be rooted; [target]
// may move, [text] must be another series.
void decode_percent(const cell* text, const cell* target);
// The next code point of the UTF-8 text [p, end) with its %XX escapes decoded as
// decode_percent decodes them; advances [p] past what it read. Answers -1 where a run of
// escapes, or the text itself, is not valid UTF-8 (the lexer's URL and file loaders, which
// must not raise).
int32_t next_decoded(const uint8_t*& p, const uint8_t* end);
// Appends to string [target] the UTF-8 bytes of at most [part] characters of [text] (all
// when negative), each through encode_byte with [mode]. Both must be rooted; [target] may
// move.
void encode_percent(const cell* text, int32_t part, const cell* target, uint32_t mode);

// }==
// {== Ports

// Replaces url [value] (a stack cell) by the port! made from what the URL parser `parse-url`
// answers for it; raises feature-na while `parse-url` has no function, invalid-arg when its
// answer is no object. May allocate.
cell* open_port(cell* value);

// }==
// {== HTTP (datatypes/url_http.cpp)

// Replaces [source] (a stack cell) by the body of a GET of it: a binary! with [binary], a
// block of lines with [lines], else its UTF-8 text (access invalid-utf8 with the URL when it
// is not); with [info] a block of the status, a map! of the headers and that body. A failed
// request raises access no-connect with the URL; a body too big for a series internal
// limit-hit.
cell* http_read(cell* source, bool binary, bool lines, bool info);
// Replaces [target] by the response, as http_read gives it, to the request [data] describes:
// a string! or binary! is POSTed; a block is [method headers body] (the method word
// upper-cased, the headers sent as given, the body optional), an empty one a GET. A header
// block of an odd count, or a line break in a header or the method, raises invalid-arg.
cell* http_write(cell* target, cell* data, bool binary, bool lines, bool info);

// }==

// Registers url!; string! must be registered.
void init();

} // namespace zyl::url

namespace zyl::file {

// Pushes a copy of [value] on the evaluation stack.
cell* push(const cell* value);
// Makes [out] a string! holding the current directory with a "/" after it (none added to
// one that ends with "/"); empty when the directory is gone. [out] must be rooted.
cell* current_dir_string(cell* out);
// Appends the operating system's form of file [value] to string [target]: the POSIX path
// itself, after the current directory and its "/" when [with_current_dir] is set and the
// path is relative. [target] must be rooted and may move.
void to_local_text(const cell* value, const cell* target, bool with_current_dir);
// The NUL-terminated UTF-8 path of file [value] for the system's calls, in the conversion
// buffer [conv] (0 to have one made; keep it rooted): valid until [conv] is used again or
// a collection runs. A name holding a NUL character raises script invalid-arg: the system
// would cut it there and name another file.
const char* to_local_path(const cell* value, node_id& conv);

// Registers file!; url! must be registered.
void init();

} // namespace zyl::file
