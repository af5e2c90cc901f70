#include "installer_routes.h"

#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace fvs {

std::string TestInstallerScript(long long size) {
    std::string s =
        "#!/bin/sh\n"
        "# the stand-in's installer: leaves a marker beside itself with the arguments it was given\n"
        "printf '%s\\n' \"$*\" > \"$(dirname \"$0\")/installer-ran.marker\"\n"
        "exit 0\n";
    const std::string pad = "# ........................................................................\n";
    while (static_cast<long long>(s.size() + pad.size()) <= size) s += pad;
    return s;
}

void InstallerRoutes(httplib::Server& svr) {
    svr.Get("/installer/fvb-test-installer.sh", [](const httplib::Request& req, httplib::Response& res) {
        long long size = req.has_param("size") ? std::atoll(req.get_param_value("size").c_str()) : 0;
        size = std::clamp<long long>(size, 0, 1ll << 30);
        if (size <= (1 << 20)) {
            res.set_content(TestInstallerScript(size), "application/x-sh");
            return;
        }
        // large ones stream from one padded block, so the stand-in never holds them whole
        auto head = std::make_shared<std::string>(TestInstallerScript(0));
        auto block = std::make_shared<std::string>();
        const std::string pad = "# ........................................................................\n";
        while (block->size() + pad.size() <= (1u << 20)) *block += pad;
        long long total = static_cast<long long>(head->size()) +
                          (size - static_cast<long long>(head->size())) / static_cast<long long>(pad.size()) *
                              static_cast<long long>(pad.size());
        res.set_content_provider(static_cast<size_t>(total), "application/x-sh",
                                 [head, block, pad](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (offset < head->size()) {
                                         size_t n = std::min(length, head->size() - offset);
                                         return sink.write(head->data() + offset, n);
                                     }
                                     size_t at = (offset - head->size()) % block->size();
                                     size_t n = std::min(length, block->size() - at);
                                     return sink.write(block->data() + at, n);
                                 });
    });
}

}  // namespace fvs
