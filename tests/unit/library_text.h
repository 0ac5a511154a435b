// tests/unit/library_text.h: the boot sources' text, read from the source tree, for fixtures
// that evaluate a few of them without the boot image.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// The text of the library source [name] (as "natives.zyl").
inline std::string library_source(const char* name) {
    std::ifstream in(std::string(ZYL_SOURCE_DIR) + "/library/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
