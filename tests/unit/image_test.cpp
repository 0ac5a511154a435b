// tests/unit/image_test.cpp: image! with the whole run-time started: the codec routines
// (decoding known, unknown and broken bytes, encoding each format), pixels freed with the last
// image that names them and kept while one lives, and freed pixels never read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct ImageTest : zyl::testing::StartedTest {
    void SetUp() override {
        StartedTest::SetUp();
        // The codec routines are reached through system/codecs once it exists; here the test
        // binds them to words of its own.
        for (const char* name : {"png-encode", "jpeg-encode", "bmp-encode", "gif-encode", "tiff-encode"})
            define(name, "[img where]");
        define("image-decode", "[data]");
    }
    static void define(const char* name, const char* spec) {
        int32_t index = routine::find(name);
        ASSERT_GE(index, 0) << name;
        cell* loaded = runtime::load_text(reinterpret_cast<const uint8_t*>(spec), std::strlen(spec));
        *loaded = *block::rs_head(loaded);
        routine::make_value(loaded, nullptr, index, -1, 0);
        cell w = word::load(name);
        context::set_value(&w, stack::top());
        stack::pop(2);
    }

    static std::string err(int32_t cat, int32_t id) { return error_of(cat, id); }

    // The used image entries of the external-resource table.
    static uint32_t live_images() {
        uint32_t n = 0;
        for (uint32_t i = 0; i < extres::capacity(); i++) {
            const extres::entry* e = extres::at(int32_t(i));
            if (e->flags != extres::FREE && e->resource) n++;
        }
        return n;
    }
};

TEST_F(ImageTest, EveryFormatRoundTripsThroughTheRoutines) {
    eval("i: make image! [3x2 #{0102030405060708090A0B0C0D0E0F101112} #{00FF0080FF00}]");
    for (const char* f : {"png", "bmp", "tiff"})
        EXPECT_EQ(eval(std::string("i = image-decode ") + f + "-encode i none"), "true") << f;
    // GIF keeps the colours of opaque pixels; alpha 128 and more is clear.
    EXPECT_EQ(eval("g: image-decode gif-encode i none g/rgb"), "#{010203000000070809000000000000101112}");
    EXPECT_EQ(eval("g/alpha"), "#{00FF00FFFF00}");
    EXPECT_EQ(eval("j: image-decode jpeg-encode i none j/size"), "3x2");
    EXPECT_EQ(eval("copy/part png-encode i none 4"), "#{89504E47}");
    EXPECT_EQ(eval("copy/part jpeg-encode i none 3"), "#{FFD8FF}");
}

TEST_F(ImageTest, UnknownBytesGiveNoneAndBrokenKnownBytesBadMedia) {
    EXPECT_EQ(eval("image-decode #{4749463838}"), "none");
    EXPECT_EQ(eval("image-decode #{}"), "none");
    EXPECT_EQ(eval("image-decode #{424D00}"), err(error::cat_access, error::access_bad_media));
    EXPECT_EQ(eval("p: png-encode make image! [20x20 1.2.3] none image-decode copy/part p 50"),
              err(error::cat_access, error::access_bad_media));
    EXPECT_EQ(eval("image-decode %/no/such/file.png"), err(error::cat_access, error::access_cannot_open));
    EXPECT_EQ(eval("png-encode make image! [0x0] none"), err(error::cat_access, error::access_bad_media));
    EXPECT_EQ(eval("png-encode make image! [5x0] none"), err(error::cat_access, error::access_bad_media));
}

TEST_F(ImageTest, EncodingAnUnknownFormatRaisesInvalidArg) {
    eval("i: make image! [1x1 1.2.3]");
    cell w = word::load("i");
    cell img = *context::get_value(&w);
    cell* top = es.top;
    cell t = word::load("test");
    stack::mark_try(&t);
    int32_t id = -1;
    try {
        image::encode(&img, nullptr, 7);
    } catch (const error::raised& e) {
        id = e.id;
    }
    es.throw_code = THROW_NONE;
    es.top = top;
    EXPECT_EQ(id, error::script_invalid_arg);
}

TEST_F(ImageTest, DroppedPixelsAreFreedByTheNextCollectionAndLiveOnesKept) {
    eval("recycle");
    uint32_t before = live_images();
    eval("keep: make image! [100x100 1.2.3] drop: make image! [4096x4096 0.0.0] drop: none");
    if (!mm.stress_every) { // stress may have collected it already
        EXPECT_EQ(live_images(), before + 2);
    }
    eval("recycle");
    EXPECT_EQ(live_images(), before + 1);
    EXPECT_EQ(eval("recycle pick keep 10000"), "1.2.3.0");
    // A loop that drops large images runs the collector from their pixel bytes alone.
    eval("loop 20 [make image! [2048x2048 9.9.9]]");
    EXPECT_LE(live_images(), before + 1 + 9);
}

TEST_F(ImageTest, FreedPixelsRaiseBadMediaInsteadOfBeingRead) {
    eval("i: make image! [2x2 1.2.3] j: i");
    cell w = word::load("i");
    cell img = *context::get_value(&w);
    image::free_pixels(&img);
    EXPECT_EQ(eval("pick j 1"), err(error::cat_access, error::access_bad_media));
    EXPECT_EQ(eval("make image! [3x3 4.5.6] make image! [3x3 4.5.6] pick j 1"),
              err(error::cat_access, error::access_bad_media));
    EXPECT_EQ(eval("length? j"), "4");
}

} // namespace

TEST_F(ImageTest, ScalingMakesANewImageByNearestNeighbour) {
    eval("i: make image! [2x1 #{010101020202}]");
    cell w = word::load("i");
    cell img = *context::get_value(&w);
    cell* top = es.top;
    cell* s = image::push_scaled(&img, 4, 2);
    cell* bin = image::extract_channels(s, image::RGB);
    const series_buffer* b = memory::buffer_of(bin->w2);
    EXPECT_EQ(std::string(b->head, b->tail), std::string("\1\1\1\1\1\1\2\2\2\2\2\2\1\1\1\1\1\1\2\2\2\2\2\2"));
    EXPECT_EQ(image::push_scaled(&img, 0, 3)->w2, 0u);
    es.top = top;
}
