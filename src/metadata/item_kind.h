#pragma once
// The kinds of file the library lists and the decoders tell apart.
#include <cstdint>

namespace fv {

// Item kinds (a kind set elsewhere is a byte whose bit k selects kind k).
enum TItemKind : uint8_t {
    ikBmp = 0,
    ikJpeg = 1,
    ikSusie = 2,
    ikMetafile = 3,
    ikDcfThumb = 4,
    ikRaw = 5,
    ikNotImage = 6,
    ikDevice = 7,
};

}  // namespace fv
