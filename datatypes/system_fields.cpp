// datatypes/system_fields.cpp: the `system` fields that datatypes read (system_fields.h).
#include "datatypes/system_fields.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"

namespace zyl::system_fields {

namespace {

constexpr int MAX_STEPS = 4;
// Each path as names below `system`, null-ended.
constexpr const char* PATHS[][MAX_STEPS] = {
    {"locale", "months", nullptr},
    {"locale", "currencies", "list", nullptr},
    {"options", "money-digits", nullptr},
    {"view", "silent?", nullptr},
    {"view", "auto-sync?", nullptr},
    {"view", "awake", nullptr},
    {"view", "screens", nullptr},
    {"view", "platform", nullptr},
};
constexpr int FIELD_COUNT = sizeof(PATHS) / sizeof(PATHS[0]);
uint32_t system_symbol;
uint32_t symbols[FIELD_COUNT][MAX_STEPS]; // interned on first use

} // namespace

void init() {
    system_symbol = symbol::make("system");
    for (int f = 0; f < FIELD_COUNT; f++)
        for (int i = 0; PATHS[f][i]; i++) symbols[f][i] = symbol::make(PATHS[f][i]);
}

const cell* get(field f) {
    if (!context::global()) return nullptr;
    if (!system_symbol) init();
    const cell* v = context::global_value(system_symbol);
    for (int i = 0; v && PATHS[f][i]; i++) {
        if (!object::is_object_type(v->type())) return nullptr;
        node_id ctx = object::context_of(v);
        int32_t index = context::find_word(ctx, symbols[f][i], true);
        v = index < 0 ? nullptr : context::value_at(ctx, uint32_t(index));
    }
    return v;
}

} // namespace zyl::system_fields
