// Service calls against the stand-in on loopback, beside bare transfers of the same forms:
//   api_call_vs_bare      one checkFolvane round trip through the API / a bare libcurl POST (lower is better)
//   upload_vs_curl        UploadEx throughput of a 10 MB photo / curl -F of the same file (higher is better)
//   silent_service_fail_s seconds until a call to a service that never answers fails
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

#include "../tests/service/stand_in.h"
#include "service/api.h"
#include "service/start_params.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// the same form as FVApi_CheckFolvane, through libcurl without the API around it
bool BarePost(CURL* c, const std::string& url) {
    curl_mime* mime = curl_mime_init(c);
    curl_mimepart* p = curl_mime_addpart(mime);
    curl_mime_name(p, "sessionid");
    curl_mime_data(p, "test-session", CURL_ZERO_TERMINATED);
    p = curl_mime_addpart(mime);
    curl_mime_name(p, "folvaneidary");
    curl_mime_data(p, "1001,1002", CURL_ZERO_TERMINATED);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Discard);
    CURLcode rc = curl_easy_perform(c);
    curl_mime_free(mime);
    return rc == CURLE_OK;
}

std::string ProgramDir(const char* argv0) {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return (ec ? fs::path(argv0) : self).parent_path().string();
}

}  // namespace

int main(int, char** argv) {
    using namespace fv;
    std::string program = ProgramDir(argv[0]) + "/../fvservice";
    if (!fs::exists(program)) {
        std::printf("fvservice not built next to the benchmarks (%s)\n", program.c_str());
        std::printf("bench: api_call_vs_bare = - x\nbench: upload_vs_curl = - x\nbench: silent_service_fail_s = - s\n");
        return 0;
    }
    TStandInService service(program);
    const std::string base = service.Base();
    FVApiParams().SetParams("sessionid=test-session", true);
    FVApiParams().SetParamsFromAppInfo(fvmDispPage, base + "/api/", "", base + "/getAppInfo.php", "", base + "/remote/",
                                       0, 0, 0, true, true, false, false);

    // --- one call vs a bare POST, each a fresh connection as the API makes them; the two
    // alternate and the medians are compared, so that a busy machine weighs on both alike
    const int rounds = 300;
    TFVApiResult r;
    std::vector<TFolvaneAlbum> albums;
    for (int i = 0; i < 20; ++i) FVApi_CheckFolvane("1001,1002", &albums, r);  // warm up
    std::vector<double> apiTimes, bareTimes;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        albums.clear();
        FVApi_CheckFolvane("1001,1002", &albums, r);
        apiTimes.push_back(Seconds(t0));
        if (!r.Success) std::printf("api call failed: %s\n", r.Message.c_str());
        t0 = Clock::now();
        CURL* c = curl_easy_init();
        if (!BarePost(c, base + "/api/checkFolvane.php")) std::printf("bare post failed\n");
        curl_easy_cleanup(c);
        bareTimes.push_back(Seconds(t0));
    }
    double api = Median(apiTimes), bare = Median(bareTimes);
    std::printf("checkFolvane (median of %d): api %.3f ms, bare libcurl %.3f ms\n", rounds, api * 1e3, bare * 1e3);

    // --- a 10 MB photo through UploadEx and through curl -F
    std::string photo = (fs::temp_directory_path() / ("fv-bench-10mb-" + std::to_string(getpid()) + ".jpg")).string();
    {
        std::ofstream out(photo, std::ios::binary);
        std::mt19937 rng(7);
        std::string chunk(1 << 20, '\0');
        for (int mb = 0; mb < 10; ++mb) {
            for (auto& ch : chunk) ch = static_cast<char>(rng());
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    const double bytes = static_cast<double>(fs::file_size(photo));
    const int uploads = 7;
    std::string cmd = "curl -s -o /dev/null -F sessionid=test-session -F folvaneid=1001 -F editmode=contents "
                      "-F photoindex=0 -F resuuid= -F comment= -F orgfilename=bench.jpg -F 'data=@" + photo +
                      ";type=image/jpeg' " + base + "/api/upload.php";
    bool haveCurl = std::system("command -v curl >/dev/null 2>&1") == 0;
    std::vector<double> oursRates, curlRates;
    std::string res;
    for (int i = 0; i < uploads; ++i) {
        auto t0 = Clock::now();
        res.clear();
        FVApi_UploadEx("1001", photo, "", {}, "bench.jpg", false, 0, 0, -1, i, res, r);
        oursRates.push_back(bytes / Seconds(t0));
        if (!r.Success) std::printf("upload failed: %s %s\n", r.Code.c_str(), r.Message.c_str());
        if (!haveCurl) continue;
        t0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) std::printf("curl upload failed\n");
        curlRates.push_back(bytes / Seconds(t0));
    }
    double ours = Median(oursRates), theirs = haveCurl ? Median(curlRates) : 0;
    if (haveCurl) std::printf("10 MB upload (median of %d): api %.1f MB/s, curl -F %.1f MB/s\n", uploads, ours / 1e6, theirs / 1e6);
    fs::remove(photo);

    // --- a service that accepts and never answers, with the client's own limits
    service.Fault("/api/checkFolvane.php", {{"hang", "1"}, {"hang_ms", "40000"}});
    auto t0 = Clock::now();
    FVApi_CheckFolvane("1001", &albums, r);
    double silent = Seconds(t0);
    std::printf("silent service: success=%d code=%s after %.1f s\n", r.Success, r.Code.c_str(), silent);

    std::printf("bench: api_call_vs_bare = %.3f x\n", api / bare);
    if (haveCurl)
        std::printf("bench: upload_vs_curl = %.3f x\n", ours / theirs);
    else
        std::printf("bench: upload_vs_curl = - x\n");
    std::printf("bench: silent_service_fail_s = %.1f s\n", silent);
    return 0;
}
