// tests/unit/port_test.cpp: ports forward their actions to a logging actor written in Zyl:
// read and write are composed of open, copy, insert and close; a failing copy still closes;
// missing actions and unknown schemes raise their access errors; a native actor table serves
// a port through its handle!.
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/integer.h"
#include "datatypes/port.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

struct PortTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        datatype::reg.words_made = false;
        runtime::start();
        eval("log: copy [] "
             "logging: make object! [ "
             "  open: func [port /new /read /write] [append log 'open port] "
             "  copy: func [port /part n] [append log 'copy \"data\"] "
             "  insert: func [port value] [append log reduce ['insert value] port] "
             "  close: func [port] [append log 'close port] "
             "  swap: func [port other] [append log reduce ['swap other] port] "
             "] "
             "failing: make object! [ "
             "  open: func [port] [append log 'open] "
             "  copy: func [port] [append log 'copy 1 / 0] "
             "  close: func [port] [append log 'close] "
             "] "
             "none");
        add("log", "logging");
        add("fail", "failing");
    }
    void TearDown() override { runtime::stop(); }

    static void add(const char* scheme, const char* actor) {
        cell w = word::load(actor);
        cell a = *word::get_value(&w);
        port::add_scheme(scheme, &a);
    }

    // Evaluates [src]; answers the molded result, or "error id" when it raised.
    static std::string eval(const char* src) {
        cell* top = es.top;
        cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(src), std::strlen(src));
        cell w = word::load("test");
        stack::mark_try(&w);
        try {
            interp::eval_block(block, true);
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            es.top = top;
            return "error " + std::to_string(e.category) + "/" + std::to_string(e.id);
        }
        cell* out = string::push_new(64);
        actions::mold_typed(es.base, out, false, false, false, nullptr, INT32_MAX, 0);
        std::string s = string::to_std(out);
        stack::pop_frame();
        es.top = top;
        return s;
    }
    static std::string error_of(int32_t cat, int32_t id) {
        return "error " + std::to_string(cat) + "/" + std::to_string(id);
    }
};

TEST_F(PortTest, ReadCallsOpenCopyAndCloseOnceEach) {
    EXPECT_EQ(eval("read make port! [scheme: 'log]"), "\"data\"");
    EXPECT_EQ(eval("log"), "[open copy close]");
}

TEST_F(PortTest, WriteOpensInsertsCopiesAndCloses) {
    EXPECT_EQ(eval("write make port! [scheme: 'log] 42"), "\"data\"");
    EXPECT_EQ(eval("log"), "[open insert 42 copy close]");
}

TEST_F(PortTest, SwapForwardsThePortAndTheOtherValue) {
    EXPECT_EQ(eval("p: make port! [scheme: 'log] swap p 5 log"), "[swap 5]");
    EXPECT_EQ(eval("type? p"), "port!");
}

TEST_F(PortTest, AFailingCopyStillCloses) {
    EXPECT_EQ(eval("read make port! [scheme: 'fail]"), error_of(error::cat_math, error::math_zero_divide));
    EXPECT_EQ(eval("log"), "[open copy close]");
}

TEST_F(PortTest, MissingActionsAndSchemesRaiseAccessErrors) {
    EXPECT_EQ(eval("length? make port! [scheme: 'log]"), error_of(error::cat_access, error::access_no_port_action));
    EXPECT_EQ(eval("make port! [scheme: 'nosuch]"), error_of(error::cat_access, error::access_unknown_scheme));
    EXPECT_EQ(eval("make port! [host: \"h\"]"), error_of(error::cat_access, error::access_no_scheme));
    EXPECT_EQ(eval("p: make port! [scheme: 'log] p/actor: 1 length? p"), error_of(error::cat_access, error::access_invalid_port));
}

TEST_F(PortTest, MoldsAsMakePortWithItsFields) {
    std::string m = eval("mold make port! [scheme: 'log]");
    EXPECT_EQ(m.rfind("{make port! [", 0), 0u) << m;
    EXPECT_NE(m.find("scheme: 'log"), std::string::npos) << m;
}

cell* native_read(cell* p, const cell*, const cell*, bool, bool, bool, const cell*) {
    *p = integer::make_value(42);
    return p;
}

TEST_F(PortTest, ANativeActorTableServesThePortsActions) {
    static action_fn table[ACTION_SLOTS - A_append + 1] = {};
    table[A_read - A_append] = datatype::entry(&native_read);
    port::add_native_scheme("native", table);
    port::add_native_scheme("native2", table); // one table, registered once, serves both
    EXPECT_EQ(eval("p: make port! [scheme: 'native] reduce [read p  type? p/actor]"), "[42 handle!]");
    EXPECT_EQ(eval("read make port! [scheme: 'native2]"), "42");
    // A slot the table leaves empty; mold is the port's own and needs no actor.
    EXPECT_EQ(eval("length? p"), error_of(error::cat_access, error::access_invalid_actor));
    EXPECT_EQ(eval("mold p").rfind("{make port! [", 0), 0u);
}

} // namespace
