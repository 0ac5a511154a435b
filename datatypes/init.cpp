// datatypes/init.cpp: the registration order of the datatypes. A parent registers before its
// children, because a child copies its parent's entries when it registers.
#include "datatypes/init.h"

#include "datatypes/char.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"

namespace zyl::datatypes {

void init_all() {
    datatype::init(); // datatype!
    unset::init();    // unset!
    none::init();     // none!
    logic::init();    // logic!
    string::init();   // string! (series! and block! come first once they exist)
    integer::init();  // integer!
    symbol::init();   // symbol!
    char_::init();    // char!
    float_::init();   // float!
    percent::init();  // percent!
    time::init();     // time!
    // Then, as they exist: series! block! binary! integer! symbol! context! word!
    // lit-word! set-word! get-word! refinement! char! native! action! op! path! lit-path!
    // set-path! get-path! function! routine! paren! issue! url! file! object! bitset! triple!
    // float! typeset! error! vector! map! hash! pair! percent! tuple! time! tag! email!
    // handle! date! port! money! ref! point2D! point3D!, the image backend, image!.
}

} // namespace zyl::datatypes
