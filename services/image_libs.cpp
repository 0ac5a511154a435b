// services/image_libs.cpp: opening a codec library and binding its functions.
#include "services/image_libs.h"

#include <dlfcn.h>

namespace zyl::imaging {

bool library_ready(codec_library& lib) {
    if (lib.state != 0) return lib.state > 0;
    lib.state = -1;
    void* handle = dlopen(lib.soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    for (size_t i = 0; i < lib.count; i++) {
        void* f = dlsym(handle, lib.symbols[i].name);
        if (!f) return false; // the handle stays open: unloading a half-bound library buys nothing
        *lib.symbols[i].slot = f;
    }
    lib.state = 1;
    return true;
}

} // namespace zyl::imaging
