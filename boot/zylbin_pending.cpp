// boot/zylbin_pending.cpp: where the Zylbin decoder hands fully read records to the makers of
// the datatypes that do not exist yet (hash!, map!, vector!, image!, money!, date!, ref!).
// Each raises "not yet available" until its datatype lands; then it builds the value as the
// datatype's own maker does and refuses (answers a cell of another type, or raises
// zb-invalid-record through the caller) what that maker refuses.
#include "boot/zylbin_reader.h"

namespace zyl::zylbin {

// [v]: a block! over the cells in record order. Becomes a hash! with its index built.
void make_hash(cell*) { not_yet("hash!"); }

// [v]: a block! over keys and values in turn. Becomes a map! with its index rebuilt.
void make_map(cell*) { not_yet("map!"); }

// [v]: a binary! over the element bytes; [element_type] and [width] (log2 of the element size)
// from the record. Becomes a vector! when its maker accepts that element type and width.
void make_vector(cell*, uint8_t, uint32_t) { not_yet("vector!"); }

// [v]: a binary! over width x height argb pixels. Becomes an image! of that size.
void make_image(cell*, uint32_t, uint32_t) { not_yet("image!"); }

// The money! of currency byte 0 and packed digits 1-11; any other type when refused.
cell make_money(const uint8_t[12], bool) { not_yet("money!"); }

// The date! of [date_word] and, with [has_time], [time]; any other type when refused.
cell make_date(uint32_t, bool, double) { not_yet("date!"); }

// [v]: a string! over the text. Becomes a ref!.
void make_ref(cell*) { not_yet("ref!"); }

} // namespace zyl::zylbin
