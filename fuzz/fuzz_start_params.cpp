// libFuzzer target: the command text of the start parameters (first start, forwarded texts and
// the home page's commands), parsed with and without reset, then every reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/start_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    const std::string text(reinterpret_cast<const char*>(data), size);
    static TFVApiParams params;
    params.SetParams(text, size % 2 == 0);
    TFVApiParamsValues v = params.Values();
    if (v.Mode >= kFVModeCount) __builtin_trap();
    if (v.TrayRequest > 15) __builtin_trap();
    (void)params.ModeName();
    (void)SplitCommaText(text);
    return 0;
}
