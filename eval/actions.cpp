// eval/actions.cpp: the action dispatcher's failure path.
#include "eval/actions.h"

#include "datatypes/core.h"
#include "runtime/error.h"

namespace zyl::actions {

void missing_action(uint8_t type) {
    // The call's word and the argument's word join the report once words exist.
    cell datatype = datatype::make_value(type);
    error::raise(error::cat_script, error::script_expect_arg, &none_value, &datatype, &none_value);
}

} // namespace zyl::actions
