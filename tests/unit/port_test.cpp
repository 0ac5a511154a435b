// tests/unit/port_test.cpp: ports forward their actions to a logging actor written in Zyl:
// read and write are composed of open, copy, insert and close; a failing copy still closes;
// missing actions and unknown schemes raise their access errors; a native actor table serves
// a port through its handle!.
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/integer.h"
#include "datatypes/port.h"
#include "datatypes/word.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct PortTest : zyl::testing::StartedTest {
    void SetUp() override {
        StartedTest::SetUp();
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

    static void add(const char* scheme, const char* actor) {
        cell w = word::load(actor);
        cell a = *word::get_value(&w);
        port::add_scheme(scheme, &a);
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
