// datatypes/system_fields.h: reading the few fields of the `system` object that datatypes
// consult (the locale's month names and currency list, the money digits option), with a
// clear answer while `system` does not exist yet. The terminal UI reads two flags of `system/view`, its `awake`, `screens` and `platform`.
#pragma once

#include "datatypes/cell.h"

namespace zyl::system_fields {

// The fields read, by path below `system`.
enum field : int { LOCALE_MONTHS, LOCALE_CURRENCY_LIST, OPTIONS_MONEY_DIGITS, VIEW_SILENT, VIEW_AUTO_SYNC, VIEW_AWAKE,
                   VIEW_SCREENS, VIEW_PLATFORM };

// Interns the field names, so that get allocates nothing afterwards. Needs the symbol table.
void init();

// The value of [f], or null while `system` (or an object on the way) does not exist. The
// slot may move at the next allocation: callers copy what they need first. Allocates only
// when init has not run (the names are then interned on first use).
const cell* get(field f);

} // namespace zyl::system_fields
