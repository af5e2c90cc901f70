#include "library_session.h"

#include <cstdio>

#include "core/config.h"
#include "core/data_file.h"
#include "core/engine.h"
#include "core/file_functions.h"
#include "library/ext_items.h"
#include "library/library_engine.h"
#include "platform/codepage.h"
#include "platform/datetime.h"

namespace fv::fvb {

TLibrarySession::~TLibrarySession() { Close(); }

bool TLibrarySession::Open() {
    std::string folder;
    {
        TFolvaneConfigItem config;  // only for its folder locations
        folder = ExcludeTrailingPathDelimiters(config.GetDataFolder());
    }
    // a friendlier word than the engine's for the common case: the browser is running
    if (DirectoryExists(folder)) {
        TDataFolderLock probe(folder);
        if (!probe.TryAcquire()) {
            std::fprintf(stderr,
                         "fvb: the library in %s is in use by another program (the browser or another fvb).\n"
                         "     Nothing was changed; try again when it has finished.\n",
                         folder.c_str());
            FailStatus = 3;
            return false;
        }
    }
    try {
        InitCorvaEngineLog();
        FLogOpen = true;
    } catch (const Exception& e) {
        std::fprintf(stderr, "fvb: working without a log: %s\n", TerminalText(e.Message()).c_str());
    }
    try {
        InitCorvaEngine();
    } catch (const Exception& e) {
        std::fprintf(stderr, "fvb: the library could not be opened:\n%s\n", TerminalText(e.Message()).c_str());
        if (FLogOpen) FinalCorvaEngineLog();
        FLogOpen = false;
        FailStatus = 3;
        return false;
    }
    FOpen = true;
    std::string problem = CorvaLibraryLoadProblem();
    if (!problem.empty()) {
        // nothing is done on a library that was read only in part; the files stay as they are
        std::fprintf(stderr,
                     "fvb: the library in %s could not be read completely; nothing was done and the\n"
                     "     data files were left as they are (see the log):\n%s\n",
                     folder.c_str(), TerminalText(problem).c_str());
        Close(false);
        FailStatus = 4;
        return false;
    }
    return true;
}

bool TLibrarySession::Close(bool save) {
    bool ok = true;
    if (FOpen) {
        FOpen = false;
        SetCorvaEngineSavesLibrary(save);
        try {
            FinalCorvaEngine();
        } catch (const Exception& e) {
            std::fprintf(stderr, "fvb: the library could not be saved completely:\n%s\n", TerminalText(e.Message()).c_str());
            ok = false;
        }
    }
    if (FLogOpen) {
        FLogOpen = false;
        try {
            FinalCorvaEngineLog();
        } catch (const Exception&) {
        }
    }
    return ok;
}

const char* KindName(int kind) {
    switch (kind) {
        case ikBmp: return "bmp";
        case ikJpeg: return "jpeg";
        case ikSusie: return "image";
        case ikMetafile: return "metafile";
        case ikDcfThumb: return "thm";
        case ikRaw: return "raw";
        case ikNotImage: return "media";
        case ikDevice: return "device";
        default: return "other";
    }
}

std::string DateText(double value) { return value > 0 ? FormatDateTimeText(value) : "-"; }

std::string TerminalText(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string ShownName(const std::string& s) {
    if (IsValidUtf8(s)) return s;
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x80 && c >= 0x20) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace fv::fvb
