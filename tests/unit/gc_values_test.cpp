// tests/unit/gc_values_test.cpp: the value helpers at a series tail and their rooting (a
// growth may collect), the checked number conversion and mold indentation.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

struct ValuesTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        root = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.root_block = root;
        collector::gc.active = true;
    }
    node_id root = 0;
};

// Collects at every allocation while it lives, stress or not.
struct collect_always {
    uint64_t saved = mm.stress_every;
    collect_always() { mm.stress_every = 1; }
    ~collect_always() { mm.stress_every = saved; }
};

TEST_F(ValuesTest, CopyOntoItselfChangesNothing) {
    cell c{T_integer | CELL_NEW_LINE, 1, 2, 3};
    EXPECT_EQ(cells::copy(&c, &c), &c);
    EXPECT_EQ(c.header, uint32_t(T_integer | CELL_NEW_LINE));
    EXPECT_EQ(c.w3, 3u);
    cells::set_type(&c, T_char_);
    EXPECT_EQ(c.header, uint32_t(T_char_ | CELL_NEW_LINE)); // flags stay
}

TEST_F(ValuesTest, AppendingToAFullBlockDoublesItAndKeepsItsNode) {
    node_id n = series::alloc_cells(2);
    series::append_value(root, cell{T_block, 0, n, 0});
    uint32_t size = memory::buffer_of(n)->size;
    while (memory::buffer_of(n)->tail < memory::buffer_of(n)->end()) series::append_unset_cell(n);
    cell* c = series::append_unset_cell(n);
    series_buffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->size, 2 * size);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(c->type(), T_unset);
    EXPECT_EQ(c, reinterpret_cast<cell*>(b->tail) - 1);
}

TEST_F(ValuesTest, TailBytesGrowToTwiceTheNeedOrTwiceTheSize) {
    node_id n = series::alloc_bytes(16);
    series::append_value(root, cell{T_binary, 0, n, 0});
    series::alloc_tail_bytes(n, 100); // the buffer is smaller than the need: twice the need
    EXPECT_EQ(memory::buffer_of(n)->size, 208u); // 200, in whole 16-byte steps
    EXPECT_EQ(memory::buffer_of(n)->used_bytes(), 100u);
    series::alloc_tail_bytes(n, 150); // the need fits in the size: twice the size
    EXPECT_EQ(memory::buffer_of(n)->size, 416u);
    EXPECT_EQ(memory::buffer_of(n)->used_bytes(), 250u);
}

TEST_F(ValuesTest, CopyPartDropsTheOwnedMark) {
    node_id n = series::alloc_bytes(16);
    series::append_value(root, cell{T_binary, 0, n, 0});
    std::memcpy(series::alloc_tail_bytes(n, 6), "abcdef", 6);
    series::set_flags(n, SERIES_OWNED);
    node_id c = series::copy_part(n, 2, 3);
    series_buffer* b = memory::buffer_of(c);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b->head), b->used_bytes()), "cde");
    EXPECT_FALSE(b->flags & SERIES_OWNED);
    EXPECT_EQ(b->unit(), 1u);
}

// A value that only the caller's copy holds survives the collection that growing runs.
TEST_F(ValuesTest, AppendedValueSurvivesTheGrowthThatCollects) {
    node_id n = series::alloc_cells(1);
    series::append_value(root, cell{T_block, 0, n, 0});
    series::append_value(n, cell{T_integer, 0, 1, 0}); // now full
    cell s;
    {
        zyl::testing::no_stress quiet;
        string::make_at(&s, 16);
        string::concatenate_literal(&s, "only here");
    }
    collect_always every;
    uint32_t cycles = collector::gc.cycles;
    series::append_value(n, s);
    EXPECT_GT(collector::gc.cycles, cycles);
    cell kept = reinterpret_cast<cell*>(memory::buffer_of(n)->head)[1];
    EXPECT_EQ(string::to_std(&kept), "only here");
}

TEST_F(ValuesTest, ToIntCheckedTruncatesOrRaisesOutOfRange) {
    struct {
        double d;
        int32_t want;
    } ok[] = {{2147483647.0, 2147483647}, {-2147483648.0, INT32_MIN}, {-2.5, -2}, {2.99, 2}, {-0.0, 0}};
    for (auto& c : ok) {
        cell f = float_::make_value(c.d);
        EXPECT_EQ(value::to_int_checked(&f), c.want) << c.d;
    }
    double bad[] = {2147483648.0, -2147483649.0, std::numeric_limits<double>::quiet_NaN(),
                    std::numeric_limits<double>::infinity()};
    for (double d : bad) {
        cell f = float_::make_value(d);
        EXPECT_TRUE(zyl::testing::raises(error::cat_script, error::script_out_of_range,
                                         [&] { value::to_int_checked(&f); }))
            << d;
    }
    cell i{T_integer, 0, static_cast<uint32_t>(-7), 0};
    EXPECT_EQ(value::to_int_checked(&i), -7);
}

TEST_F(ValuesTest, IndentAppendsFourSpacesALevel) {
    cell* out = string::push_new(16);
    string::concatenate_literal(out, "[");
    EXPECT_EQ(string::append_indent(out, 2, 100), 92);
    EXPECT_EQ(string::to_std(out), "[        ");
    EXPECT_EQ(string::append_indent(out, 0, 5), 5);
    EXPECT_EQ(string::to_std(out), "[        ");
}

} // namespace
