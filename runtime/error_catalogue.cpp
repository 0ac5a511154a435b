// runtime/error_catalogue.cpp: the catalogue's tables, made from runtime/error_catalogue.inc, and
// their look-ups.
//
// Invariant (checked at compile time): row i of `categories` is category i; `messages` holds the
// messages grouped by category in category order, and the ids of one category run 2, 3, 4, ...
// So message [id] of [cat] is `messages[spans[cat].first + id - 2]`.
#include "runtime/error_catalogue.h"

#include <array>
#include <cstddef>

namespace zyl::error::catalogue {

namespace {

struct category_row {
    int32_t index;
    const char* name;
    const char* title;
};

struct message_row {
    int32_t category;
    int32_t id;       // field index in the category object, 2 and up
    const char* name; // the id word, "no-value"
    const char* tmpl; // Zyl source text
};

constexpr category_row categories[] = {
#define ZYL_ERROR_CATEGORY(index, ident, name, title) {index, name, title},
#define ZYL_ERROR(category, ident, name, field, tmpl)
#include "runtime/error_catalogue.inc"
#undef ZYL_ERROR_CATEGORY
#undef ZYL_ERROR
};

constexpr message_row messages[] = {
#define ZYL_ERROR_CATEGORY(index, ident, name, title)
#define ZYL_ERROR(category, ident, name, field, tmpl) {ids::cat_##category, field, name, tmpl},
#include "runtime/error_catalogue.inc"
#undef ZYL_ERROR_CATEGORY
#undef ZYL_ERROR
};

constexpr int32_t CATEGORY_COUNT = static_cast<int32_t>(std::size(categories));
constexpr int32_t MESSAGE_COUNT = static_cast<int32_t>(std::size(messages));
static_assert(CATEGORY_COUNT == ids::category_count);

// The messages of one category: where they start in `messages` and how many there are.
struct span {
    int32_t first;
    int32_t count;
};

constexpr std::array<span, CATEGORY_COUNT> make_spans() {
    std::array<span, CATEGORY_COUNT> s{};
    for (int32_t i = MESSAGE_COUNT - 1; i >= 0; i--) {
        s[messages[i].category].first = i;
        s[messages[i].category].count++;
    }
    for (int32_t c = 1; c < CATEGORY_COUNT; c++) // an empty category starts where the next would
        if (s[c].count == 0) s[c].first = s[c - 1].first + s[c - 1].count;
    return s;
}

constexpr std::array<span, CATEGORY_COUNT> spans = make_spans();

constexpr bool rows_in_order() {
    for (int32_t i = 0; i < CATEGORY_COUNT; i++)
        if (categories[i].index != i) return false;
    for (int32_t i = 0; i < MESSAGE_COUNT; i++) {
        const message_row& m = messages[i];
        if (i > 0 && m.category < messages[i - 1].category) return false;
        if (m.id != ids::first_message + (i - spans[m.category].first)) return false;
    }
    return true;
}
static_assert(rows_in_order(),
              "error_catalogue.inc: categories by index, ids 2, 3, ... per category");

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether [a] and [b] are the same name, ignoring ASCII case.
bool same_name(std::string_view a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); i++)
        if (b[i] == '\0' || lower(a[i]) != lower(b[i])) return false;
    return b[i] == '\0';
}

// The row of message [id] of [cat], or null.
const message_row* message_at(int32_t cat, int32_t id) {
    if (cat < 0 || cat >= CATEGORY_COUNT) return nullptr;
    int32_t k = id - ids::first_message;
    if (k < 0 || k >= spans[cat].count) return nullptr;
    return &messages[spans[cat].first + k];
}

} // namespace

int32_t field_count(int32_t cat) {
    if (cat < 0 || cat >= CATEGORY_COUNT) return 0;
    return ids::first_message + spans[cat].count;
}

const char* category_name(int32_t cat) {
    return cat >= 0 && cat < CATEGORY_COUNT ? categories[cat].name : nullptr;
}

const char* category_title(int32_t cat) {
    return cat >= 0 && cat < CATEGORY_COUNT ? categories[cat].title : nullptr;
}

const char* id_name(int32_t cat, int32_t id) {
    const message_row* m = message_at(cat, id);
    return m ? m->name : nullptr;
}

const char* message_template(int32_t cat, int32_t id) {
    const message_row* m = message_at(cat, id);
    return m ? m->tmpl : nullptr;
}

int32_t code_of(int32_t cat, int32_t id) {
    return message_at(cat, id) ? cat * 100 + id - ids::first_message : -1;
}

int32_t find_category(std::string_view name) {
    for (int32_t i = 0; i < CATEGORY_COUNT; i++)
        if (same_name(name, categories[i].name)) return i;
    return -1;
}

int32_t find_id(int32_t cat, std::string_view name) {
    if (cat < 0 || cat >= CATEGORY_COUNT) return -1;
    const span& s = spans[cat];
    for (int32_t k = 0; k < s.count; k++)
        if (same_name(name, messages[s.first + k].name)) return ids::first_message + k;
    return -1;
}

} // namespace zyl::error::catalogue
