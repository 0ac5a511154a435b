// datatypes/init.cpp: the registration order of the datatypes. A parent registers before its
// children, because a child copies its parent's entries when it registers.
#include "datatypes/init.h"

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/file_url.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/issue.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag_email.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"

namespace zyl::datatypes {

void init_all() {
    datatype::init(); // datatype!
    unset::init();    // unset!
    none::init();     // none!
    logic::init();    // logic!
    series::init();   // series!
    block::init();    // block!
    string::init();   // string!
    binary::init();   // binary!
    integer::init();  // integer!
    symbol::init();   // symbol!
    context::init();  // context!
    word::init();     // word!
    lit_word::init(); // lit-word!
    set_word::init(); // set-word!
    get_word::init(); // get-word!
    refinement::init(); // refinement!
    char_::init();    // char!
    native::init();   // native!
    action::init();   // action!
    op::init();       // op!
    path::init();     // path!
    lit_path::init(); // lit-path!
    set_path::init(); // set-path!
    get_path::init(); // get-path!
    function::init(); // function!
    routine::init();  // routine!
    paren::init();    // paren!
    issue::init();    // issue!
    url::init();      // url!
    file::init();     // file!
    object::init();   // object!
    bitset::init();   // bitset!
    triple::init();   // triple!
    float_::init();   // float!
    typeset::init();  // typeset!
    error::init();    // error!
    vector::init();   // vector!
    map::init();      // map!
    hash::init();     // hash!
    pair::init();     // pair!
    percent::init();  // percent!
    tuple::init();    // tuple!
    time::init();     // time!
    tag::init();      // tag!
    email::init();    // email!
    handle::init();   // handle!
    date::init();     // date!
    port::init();     // port!
    money::init();    // money!
    ref::init();      // ref!
    point2D::init();  // point2D!
    point3D::init();  // point3D!
    image::init();    // the image backend's resource kind, then image!
    event::init();    // event!, the user interface's first datatype
    // Then, as they exist: series! block! binary! integer! symbol! context! word!
    // lit-word! set-word! get-word! refinement! char! native! action! op! path! lit-path!
    // set-path! get-path! function! routine! paren! issue! url! file! object! bitset! triple!
    // float! typeset! error! vector! map! hash! pair! percent! tuple! time! tag! email!
    // handle! date! port! money! ref! point2D! point3D!, the image backend, image!.
}

} // namespace zyl::datatypes
