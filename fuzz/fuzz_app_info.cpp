// libFuzzer target: the application-information document reader (parse, validity, every value,
// the start procedure, error-page and offline URLs). Nothing is written: the item's folders do not exist.
#include <cstddef>
#include <cstdint>

#include "platform/stream.h"
#include "service/app_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    TAppInfoEnvironment env;
    env.ProgramFolder = "/nonexistent/fuzz-program";
    env.DataFolder = "/nonexistent/fuzz-data";
    env.KeyText = "fuzz";
    TKSGetAppInfoItem item(env);
    TBytesStream s(data, size);
    try {
        if (!item.LoadInfoDataFromStream(s)) return 0;
    } catch (const EKSGetAppInfoItemError&) {
        return 0;
    }
    item.ReadInfoData();
    item.EvaluateLocalWakeup();
    item.GetErrorPageUrl("socketeEror", "ES0001");
    item.GetErrorPageUrl("networkError", "");
    item.GetOfflineAnnounceUrl();
    item.HelpUrl();
    item.UpdateMessage();
    return 0;
}
