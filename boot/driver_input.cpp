// boot/driver_input.cpp: standard-input lines for the development driver, through the line
// editor on a terminal, with the history kept in the console settings file.
#include "boot/driver_input.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "boot/startup.h"
#include "console/line_editor.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/terminal.h"

namespace zyl::driver_input {
namespace {

constexpr uint32_t HISTORY_KEPT = 100;

// The settings folder and file of the console.
std::string settings_dir() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.zyl/Zyl-Console/";
}

std::string read_file(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

// A new history block on the stack: the `history:` block of the settings file, or empty.
cell* load_history() {
    cell* slot = block::push_new(200);
    std::string text = read_file(settings_dir() + "console-cfg.zyl");
    if (text.empty()) return slot;
    cell* top = es.top;
    cell* base = es.base;
    call_frame* ftop = es.ftop;
    static cell w = word::load("do");
    stack::mark_try(&w);
    try {
        cell* b = runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        uint32_t len = block::rs_length_q(b);
        for (uint32_t i = 0; i + 1 < len; i++) {
            const cell* c = block::rs_abs_at(b, b->w1 + i);
            const cell* next = c + 1;
            if (c->type() == T_set_word && next->type() == T_block &&
                std::string(symbol::c_name(c->w2)) == "history") {
                cell found = *next;
                es.top = top;
                es.base = base;
                es.ftop = ftop;
                *slot = found;
                break;
            }
        }
    } catch (const error::raised&) {} // a broken settings file is ignored
    es.top = top;
    es.base = base;
    es.ftop = ftop;
    es.throw_code = THROW_NONE;
    return slot;
}

// Writes the newest 100 entries of [history] into the settings file.
void save_history(cell* history) {
    std::string dir = settings_dir();
    std::string parent = dir.substr(0, dir.size() - std::string("Zyl-Console/").size());
    mkdir(parent.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    cell h = *history;
    h.w1 = 0;
    if (block::rs_length_q(&h) > HISTORY_KEPT) block::rs_set_tail(&h, HISTORY_KEPT);
    cell* out = string::push_new(1024);
    string::concatenate_literal(out, "Zyl [\n    Purpose: \"Zyl Console Configuration File\"\n]\n\nbuffer-lines: 10000\nhistory: ");
    actions::mold_typed(&h, out, false, false, false, nullptr, 0x7FFFFFFF, 0);
    string::concatenate_literal(out, "\n");
    std::string text = string::to_std(out);
    stack::pop(1);
    std::string path = dir + "console-cfg.zyl";
    std::string temp = path + ".new";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) std::rename(temp.c_str(), path.c_str());
    else std::remove(temp.c_str());
}

cell* history_slot = nullptr;

} // namespace

reader::reader() : terminal(terminal::interactive()) {
    if (!terminal) return;
    history_slot = load_history(); // stays on the stack below the driver's work
    line_editor::set_history(history_slot);
}

reader::~reader() {
    if (!terminal) return;
    try {
        save_history(history_slot);
    } catch (const error::raised&) {}
}

bool reader::next(std::string& out) {
    out.clear();
    escaped = false;
    if (!terminal) {
        char buf[65536];
        if (!std::fgets(buf, sizeof buf, stdin)) return false;
        out = buf;
        return true;
    }
    static const uint8_t prompt_text[] = ">> ";
    cell* prompt = string::load(prompt_text, 3, string::ENCODING_UTF8);
    cell* line = string::push_new(64);
    bool more = line_editor::read_line(prompt, false, line);
    line->w1 = 0;
    out = string::to_std(line);
    stack::pop(2);
    if (!more) return false;
    if (!out.empty() && out.back() == '\x1b') {
        console::write_cstring("(escape)\n");
        escaped = true;
        out.clear();
        return true;
    }
    out += '\n';
    return true;
}

} // namespace zyl::driver_input
