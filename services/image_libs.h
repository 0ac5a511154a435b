// services/image_libs.h: the codec libraries (libpng, libjpeg, giflib, libtiff), opened with
// dlopen the first time a format needs one, so that a process that never touches an image does
// not map and relocate them (and what they drag in) at every start.
//
// Each codec file names the functions it calls in a list and declares, in its own namespace, a
// pointer of the same name for each: the pointers hide the header's declarations, so the code
// reads as plain calls (macros that expand to library calls included) and the linker never
// sees a reference to the library.
#pragma once

#include <cstddef>

namespace zyl::imaging {

struct library_symbol {
    const char* name;
    void** slot;
};

// One library: its shared-object name and the pointers to bind. [state] is 0 before the first
// try, 1 when every symbol was found, -1 when the library or a symbol is missing (then it is
// not tried again and no pointer is used).
struct codec_library {
    const char* soname;
    const library_symbol* symbols;
    size_t count;
    int state;
};

// The shared-object names, found at configure time (generated/image_sonames.cpp).
extern const char png_soname[], jpeg_soname[], gif_soname[], tiff_soname[];

// Opens [lib] on the first call; whether its functions may be called.
bool library_ready(codec_library& lib);

} // namespace zyl::imaging

// A pointer named as the library function, of its type.
#define ZYL_IMAGE_LIB_POINTER(f) decltype(&::f) f = nullptr;
// The slot that library_ready fills for it.
#define ZYL_IMAGE_LIB_SLOT(f) {#f, reinterpret_cast<void**>(&f)},
