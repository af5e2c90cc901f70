#pragma once
// The one progress line of the command-line tools: rewritten in place on standard error, shown
// only when standard error is a terminal (never in pipes, files or JSON output), at most ten
// times a second, and wiped before the results are printed.
#include <chrono>
#include <string>

namespace fv {

class TProgressLine {
public:
    // shown only when enabled (by default: standard error is a terminal)
    TProgressLine();
    explicit TProgressLine(bool enabled) : FEnabled(enabled) {}
    ~TProgressLine() { Done(); }
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    bool Enabled() const { return FEnabled; }
    // a free text, cut to the terminal's width
    void Show(const std::string& text);
    // a bar "[###---]  42% 21/50"; final shows it whatever the time since the last one
    void ShowCount(const std::string& label, int done, int total, bool final = false);
    // wipes the line
    void Done();

    // the bar's text for a width of the terminal (columns), label first
    static std::string CountText(const std::string& label, int done, int total, int columns);

private:
    void Write(const std::string& text);
    bool FEnabled;
    bool FShown = false;
    std::chrono::steady_clock::time_point FLast{};
};

}  // namespace fv
