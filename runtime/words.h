// runtime/words.h: the predefined words: names the run-time compares against, interned once
// at start-up and kept each in a slot of its own, so code reads a symbol id or a word cell
// directly instead of interning a name each time.
//
// Four groups, built in this order (the order fixes canonical spellings: a later case variant
// of a name is an alias of the first one interned):
//   sym      symbol ids of the names of ZYL_SYMBOL_SLOTS
//   global   global words made from some of those symbols (ZYL_GLOBAL_WORD_SLOTS)
//   loaded   words bound to the global context, loaded from the names of ZYL_WORD_SLOTS
//   refs     refinements, unbound; and ooo, an issue!
// A name that stands in two slots (code, throw, collect, ...) resolves to one symbol. The
// slots never change once built. The word cells name only the global context (kept by its
// own collector hook) and symbols, so the slots need no marking of their own.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

// X(slot, "name") in build order.
#define ZYL_SYMBOL_SLOTS(X) \
    X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class") X(logic_t, "logic!") \
    X(integer_t, "integer!") X(char_t, "char!") X(float_t, "float!") X(percent_t, "percent!") \
    X(any_type_t, "any-type!") X(exit_, "exit") X(return_, "return") X(windows, "Windows") \
    X(syllable, "Syllable") X(macos, "macOS") X(linux_, "Linux") X(netbsd, "NetBSD") \
    X(repeat, "repeat") X(foreach, "foreach") X(map_each, "map-each") \
    X(remove_each, "remove-each") X(any, "any") X(break_, "break") X(copy, "copy") X(end, "end") \
    X(fail, "fail") X(into, "into") X(opt, "opt") X(not_, "not") X(quote, "quote") \
    X(case_, "case") X(reject, "reject") X(set, "set") X(skip, "skip") X(some, "some") \
    X(thru, "thru") X(to, "to") X(none, "none") X(bar, "|") X(minus, "-") X(if_, "if") \
    X(remove, "remove") X(while_, "while") X(insert, "insert") X(only, "only") \
    X(collect, "collect") X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after") \
    X(x, "x") X(y, "y") X(z, "z") X(self, "self") X(values, "values") X(owner, "owner") \
    X(owned, "owned") X(events_q, "events?") X(true_, "true") X(false_, "false") X(yes, "yes") \
    X(no, "no") X(on, "on") X(off, "off") X(type, "type") X(face, "face") X(window, "window") \
    X(offset, "offset") X(key, "key") X(flag, "flag") X(code, "code") X(picked, "picked") \
    X(flags, "flags") X(away_q, "away?") X(ctrl_q, "ctrl?") X(shift_q, "shift?") \
    X(down_q, "down?") X(mid_down_q, "mid-down?") X(alt_down_q, "alt-down?") \
    X(aux_down_q, "aux-down?") X(orientation, "orientation") X(get, "get") X(put, "put") \
    X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb") X(alpha, "alpha") \
    X(argb, "argb") X(date, "date") X(year, "year") X(month, "month") X(day, "day") \
    X(zone, "zone") X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") \
    X(yearday, "yearday") X(julian, "julian") X(time, "time") X(hour, "hour") \
    X(minute, "minute") X(second, "second") X(timezone, "timezone") X(code2, "code") \
    X(amount, "amount") X(user, "user") X(host, "host") X(system, "system") \
    X(system_global, "system-global") X(trace, "trace") X(no_trace, "no-trace")

// X(slot, symbol slot) in build order: collect stands twice.
#define ZYL_GLOBAL_WORD_SLOTS(X) \
    X(windows, windows) X(syllable, syllable) X(macos, macos) X(linux_, linux_) \
    X(netbsd, netbsd) X(to, to) X(thru, thru) X(not_, not_) X(remove, remove) X(while_, while_) \
    X(collect, collect) X(keep, keep) X(ahead, ahead) X(bar, bar) X(any, any) X(some, some) \
    X(copy, copy) X(opt, opt) X(into, into) X(insert, insert) X(if_, if_) X(quote, quote) \
    X(collect2, collect) X(set, set) X(case_, case_) X(end, end)

// X(slot, "name") in build order.
#define ZYL_WORD_SLOTS(X) \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(head_q, "head?") \
    X(index_q, "index?") X(length_q, "length?") X(next, "next") X(pick, "pick") X(skip, "skip") \
    X(select, "select") X(tail, "tail") X(tail_q, "tail?") X(change, "change") \
    X(changed, "changed") X(clear, "clear") X(cleared, "cleared") X(set_path, "set-path") \
    X(append, "append") X(appended, "appended") X(move, "move") X(moved, "moved") \
    X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed") X(removed, "removed") \
    X(random, "random") X(randomized, "randomized") X(reverse, "reverse") \
    X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted") X(swap, "swap") \
    X(swaped, "swaped") X(take, "take") X(taken, "taken") X(trim, "trim") X(trimmed, "trimmed") \
    X(inserted, "inserted") X(uppercase, "uppercase") X(lowercase, "lowercase") \
    X(checksum, "checksum") X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") \
    X(iterate, "iterate") X(paren, "paren") X(anon, "<anon>") X(body, "<body>") \
    X(not_found, "<not-found>") X(add, "add") X(subtract, "subtract") X(divide, "divide") \
    X(on_parse_event, "on-parse-event") X(on_change_s, "on-change*") \
    X(on_deep_change_s, "on-deep-change*") X(type, "type") X(id, "id") X(try_, "try") \
    X(catch_, "catch") X(name, "name") X(multiply, "multiply") X(browse, "browse") \
    X(open, "open") X(create, "create") X(close, "close") X(delete_, "delete") \
    X(modify, "modify") X(query, "query") X(read, "read") X(rename, "rename") \
    X(update, "update") X(write, "write") X(prescan, "prescan") X(scan, "scan") X(load, "load") \
    X(error, "error") X(comment, "comment") X(init, "init") X(exec, "exec") X(call, "call") \
    X(return_, "return") X(enter, "enter") X(exit_, "exit") X(prolog, "prolog") \
    X(epilog, "epilog") X(throw_, "throw") X(expr, "expr") \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>") \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>") \
    X(throw2, "throw") X(note, "note") X(syntax, "syntax") X(script, "script") X(math, "math") \
    X(access, "access") X(user, "user") X(internal, "internal") \
    X(invalid_error, "invalid-error") X(local, "local") X(applied, "<applied>")

namespace zyl::words {

#define ZYL_SYMBOL_FIELD(slot, name) uint32_t slot;
#define ZYL_CELL_FIELD(slot, from) cell slot;

struct symbol_slots {
    ZYL_SYMBOL_SLOTS(ZYL_SYMBOL_FIELD)
};
struct global_slots {
    ZYL_GLOBAL_WORD_SLOTS(ZYL_CELL_FIELD)
};
struct word_slots {
    ZYL_WORD_SLOTS(ZYL_CELL_FIELD)
};

#undef ZYL_SYMBOL_FIELD
#undef ZYL_CELL_FIELD

struct refinement_slots {
    cell local;
    cell extern_;
    cell compare;
    cell part;
    cell skip;
    cell with;
};

static_assert(sizeof(symbol_slots) == 112 * sizeof(uint32_t));
static_assert(sizeof(global_slots) == 26 * sizeof(cell));
static_assert(sizeof(word_slots) == 105 * sizeof(cell));

extern symbol_slots sym;
extern global_slots global;
extern word_slots loaded;
extern refinement_slots refs;
extern cell ooo;

// Interns the names of sym, global and loaded in one run, in list order, and fills their
// slots. Needs the symbol table and the global context. May allocate.
void build();
// Fills refs: refinements of the interned names, bound to no context. May allocate.
void build_refinements();
// Fills ooo: the issue #ooo. May allocate.
void build_issue();

} // namespace zyl::words
