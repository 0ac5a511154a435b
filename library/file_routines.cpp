// library/file_routines.cpp: exists?, create-dir, write-stdout, get-current-dir,
// set-current-dir and os-info, over the file service and uname(2).
#include "library/routines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/utsname.h>

#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/os.h"
#include "services/files.h"
#include "services/sysinfo.h"

namespace zyl::routines {

namespace {

// {== Internal functions

// Appends to block [spec] the set-word [name] and [value].
void add_field(const cell* spec, const char* name, const cell* value) {
    cell w = word::load(name);
    cells::set_type(&w, T_set_word);
    block::append_value(spec, &w);
    block::append_value(spec, value);
}

// The name: "Linux", and a blank and the distribution's PRETTY_NAME when it is known.
std::string system_name() {
    std::ifstream in("/etc/os-release");
    std::stringstream text;
    if (in) text << in.rdbuf();
    std::string pretty = sysinfo::pretty_name(text.str());
    return pretty.empty() ? "Linux" : "Linux " + pretty;
}

} // namespace

// }==
// {== Routines

void exists_q() {
    cell r = logic::make_value(files::exists(stack::arg(0)));
    stack::set_last(&r);
}

void create_dir() {
    files::create_dir(stack::arg(0));
    stack::set_last(&unset_value);
}

void write_stdout() {
    files::write(nullptr, stack::arg(0), nullptr, -1, false, false);
    stack::set_last(&unset_value);
}

void get_current_dir() {
    cell* dir = file::current_dir_string(stack::push_slot());
    stack::set_last(dir);
    stack::pop(1);
}

void set_current_dir() {
    cell path = *stack::arg(0);
    collector::keep k_path{&path};
    node_id conv = 0;
    collector::keep_node k_conv{&conv};
    if (!os::set_current_dir(file::to_local_path(&path, conv))) {
        int err = errno;
        cell* reason = string::from_utf8(stack::push_slot(), std::strerror(err));
        error::raise(error::cat_access, error::access_cannot_open, &path, reason);
    }
    stack::set_last(&unset_value);
}

// os-info: name, arch, version (the kernel's major.minor.0) and build (its third number).
void os_info() {
    struct utsname u = {};
    ::uname(&u);
    int major = 0, minor = 0, patch = 0;
    std::sscanf(u.release, "%d.%d.%d", &major, &minor, &patch);
    auto byte = [](int n) { return uint8_t(n < 0 ? 0 : n > 255 ? 255 : n); };
    const uint8_t version[3] = {byte(major), byte(minor), 0};
    cell* spec = block::push_new(8);
    std::string name = system_name();
    cell* text = string::from_utf8(stack::push_slot(), name);
    add_field(spec, "name", text);
    stack::pop(1);
    cell arch = word::load(sysinfo::arch_word(u.machine));
    add_field(spec, "arch", &arch);
    cell v = tuple::make_value(3, version);
    add_field(spec, "version", &v);
    cell build = integer::make_value(patch);
    add_field(spec, "build", &build);
    cell* obj = object::push_new(spec, nullptr, true);
    stack::set_last(obj);
    stack::pop(2);
}

// }==

} // namespace zyl::routines
