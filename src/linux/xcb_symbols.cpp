#include "linux/xcb_symbols.h"

#include "linux/shared_library.h"

namespace linuxaudio {

#define PROCLOOP_DEFINE(name) decltype(&::name) name = nullptr;
PROCLOOP_XCB_FUNCTIONS(PROCLOOP_DEFINE)
PROCLOOP_XCB_RES_FUNCTIONS(PROCLOOP_DEFINE)
#undef PROCLOOP_DEFINE
xcb_extension_t* xcb_res_id = nullptr;

namespace {

std::string resolveAll() {
#define PROCLOOP_RESOLVE(name) library.resolve(name, #name);
    {
        SharedLibrary library("libxcb.so.1");
        PROCLOOP_XCB_FUNCTIONS(PROCLOOP_RESOLVE)
        if (!library.why().empty()) return library.why();
    }
    SharedLibrary library("libxcb-res.so.0");
    PROCLOOP_XCB_RES_FUNCTIONS(PROCLOOP_RESOLVE)
    library.resolve(xcb_res_id, "xcb_res_id");
#undef PROCLOOP_RESOLVE
    return library.why();
}

}  // namespace

bool loadXcb(std::string& why) {
    static const std::string failure = resolveAll();
    why = failure;
    return failure.empty();
}

}  // namespace linuxaudio
