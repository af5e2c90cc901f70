#include "progress_line.h"

#include <algorithm>
#include <cstdio>

#include "platform/terminal.h"

namespace fv {

TProgressLine::TProgressLine() : FEnabled(IsTerminalErrorOutput()) {}

void TProgressLine::Write(const std::string& text) {
    const size_t width = static_cast<size_t>(std::max(TerminalColumns() - 1, 20));
    std::string line = text.size() > width ? text.substr(0, width - 3) + "..." : text;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    FShown = true;
}

void TProgressLine::Show(const std::string& text) {
    if (!FEnabled) return;
    auto now = std::chrono::steady_clock::now();
    if (FShown && now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    Write(text);
}

std::string TProgressLine::CountText(const std::string& label, int done, int total, int columns) {
    done = std::clamp(done, 0, std::max(total, 0));
    const int percent = total > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / total) : 100;
    const int width = std::clamp(columns - 30 - static_cast<int>(label.size()), 10, 50);
    const int filled = total > 0 ? static_cast<int>(static_cast<long long>(done) * width / total) : width;
    char tail[64];
    std::snprintf(tail, sizeof tail, "] %3d%% %d/%d", percent, done, total);
    return label + (label.empty() ? "[" : " [") + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '-') + tail;
}

void TProgressLine::ShowCount(const std::string& label, int done, int total, bool final) {
    if (!FEnabled) return;
    auto now = std::chrono::steady_clock::now();
    if (!final && FShown && now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    Write(CountText(label, done, total, TerminalColumns()));
}

void TProgressLine::Done() {
    if (FShown) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    FShown = false;
}

}  // namespace fv
