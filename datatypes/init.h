// datatypes/init.h: registering every datatype, parents before children.
#pragma once

namespace zyl::datatypes {

// Registers every datatype that exists, in registration order.
void init_all();

} // namespace zyl::datatypes
