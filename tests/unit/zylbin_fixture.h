// tests/unit/zylbin_fixture.h: building Zylbin streams by hand (header, leading varints,
// symbol table, records) and decoding them with the whole run-time started.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "started_fixture.h"

namespace zyl::testing {

using bytes = std::vector<uint8_t>;

// A compact stream under construction: records go into [payload], names into the table.
struct stream {
    uint8_t flags = 0x01;
    bool symbols = false;
    std::vector<std::string> names;
    bytes payload;

    stream& raw(std::initializer_list<uint8_t> b) {
        payload.insert(payload.end(), b);
        return *this;
    }
    stream& raw(const bytes& b) {
        payload.insert(payload.end(), b.begin(), b.end());
        return *this;
    }
    static bytes varint(uint32_t v) {
        bytes b;
        do {
            uint8_t byte = v & 0x7F;
            v >>= 7;
            b.push_back(byte | (v ? 0x80 : 0));
        } while (v);
        return b;
    }
    stream& var(uint32_t v) { return raw(varint(v)); }
    stream& zig(int32_t n) { return var((uint32_t(n) << 1) ^ uint32_t(n >> 31)); }
    // The table index of [name], added when new.
    uint32_t sym_index(const std::string& name) {
        symbols = true;
        for (uint32_t i = 0; i < names.size(); i++)
            if (names[i] == name) return i;
        names.push_back(name);
        return uint32_t(names.size() - 1);
    }
    stream& sym(const std::string& name) { return var(sym_index(name)); }
    // A word record of [type] bound to the global context.
    stream& word(const std::string& name, uint8_t type = T_word) { return raw({type}).sym(name); }
    // A path: its count, then the indexes.
    stream& path(std::initializer_list<uint32_t> indexes) {
        var(uint32_t(indexes.size()));
        for (uint32_t i : indexes) var(i);
        return *this;
    }

    bytes build() const {
        bytes out = {'Z', 'Y', 'L', 'B', 'I', 'N', 2, uint8_t(flags | (symbols ? 0x04 : 0))};
        auto put = [&](const bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
        put(varint(1));
        put(varint(uint32_t(payload.size())));
        if (symbols) {
            bytes strings, offsets;
            for (const auto& n : names) {
                uint32_t o = uint32_t(strings.size());
                for (int i = 0; i < 4; i++) offsets.push_back(uint8_t(o >> (8 * i)));
                strings.insert(strings.end(), n.begin(), n.end());
                strings.push_back(0);
            }
            put(varint(uint32_t(names.size())));
            put(varint(uint32_t(strings.size())));
            put(offsets);
            put(strings);
        }
        put(payload);
        return out;
    }
};

struct ZylbinTest : zyl::testing::StartedTest {
    // Decodes [data] into a new block on the stack; answers the values molded (/all, without
    // the block's brackets), followed by " !! " and the error when one was raised:
    // "invalid N" (zb-invalid-record at offset N), "no-codec", "invalid-data", or the message.
    static std::string decode(const bytes& data, zylbin::mode m = zylbin::MODE_USER) {
        cell* top = es.top;
        cell* target = block::push_new(4);
        cell w = word::load("test");
        std::string failure;
        cell* above = es.top;
        stack::mark_try(&w);
        try {
            zylbin::decode(data.data(), data.size(), target->w2, m);
            stack::pop_frame(); // the last frame's pop empties the stack: the target stays
            es.top = above;
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            failure = " !! " + describe(e, stack::top());
        }
        std::string text = mold(target, true);
        es.top = top;
        return text + failure;
    }
    static std::string decode(const stream& s, zylbin::mode m = zylbin::MODE_USER) { return decode(s.build(), m); }

    static std::string describe(const error::raised& e, const cell* err) {
        if (e.category == error::cat_script && e.id == error::script_zb_invalid_record)
            return "invalid " + mold(error::field(err, error::F_ARG1), false);
        if (e.category == error::cat_access && e.id == error::access_no_codec) return "no-codec";
        if (e.category == error::cat_script && e.id == error::script_invalid_data) return "invalid-data";
        if (e.category == error::cat_user) return mold(error::field(err, error::F_ARG1), false);
        return "error " + std::to_string(e.category) + " " + std::to_string(e.id);
    }

    static std::string mold(const cell* v, bool only) {
        cell value = *v;
        cell* out = string::push_new(64);
        actions::mold_typed(&value, out, only, false, false, nullptr, INT32_MAX, 0);
        std::string text = string::to_std(out);
        stack::pop(1);
        return text;
    }

    // Evaluates [src]; answers its result molded, or "error".
    static std::string eval(const std::string& src) {
        std::string text = StartedTest::eval(src);
        return text.rfind("error ", 0) == 0 ? "error" : text;
    }
};

} // namespace zyl::testing
