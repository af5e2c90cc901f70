#pragma once
// The library's engine in a private folder, for UI tests that need it running: a temporary root
// with "lib" for the photos and "data" and "config" as the program's data and settings folders
// (XDG_DATA_HOME / XDG_CONFIG_HOME point there and are put back afterwards), the engine's
// producers installed. Start() starts the engine; TearDown stops whatever still runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/engine.h"
#include "core/log.h"
#include "thumbs/engine_image_cache.h"
#include "library/library_engine.h"
#include "ui/targets/frame_target_events.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui_test_app.h"

namespace fv::test {

struct PrivateEngineTest : ::testing::Test {
    std::filesystem::path root;

    void SetUp() override {
        App();
        static int n = 0;
        root = std::filesystem::temp_directory_path() /
               ("fv-ui-" + std::to_string(::getpid()) + "-" + std::to_string(++n) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "lib");
        FHadData = Keep("XDG_DATA_HOME", FSavedData);
        FHadConfig = Keep("XDG_CONFIG_HOME", FSavedConfig);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        InstallQtUiDispatcher();
        AssembleEngine();
    }
    void Start() {
        InitCorvaEngineLog();
        InitCorvaEngine();
    }
    void Stop() {
        if (CorvaEngineExists()) FinalCorvaEngine();
        FinalCorvaEngineLog();
    }
    void TearDown() override {
        // the next test's engine may put its trees where this one's were: the masters let go
        TLibraryEvents::Uninstall();
        if (CorvaEngineExists()) FinalCorvaEngine();
        FinalCorvaEngineLog();
        CloseCorvaLog();
        DisassembleEngine();
        Restore("XDG_DATA_HOME", FHadData, FSavedData);
        Restore("XDG_CONFIG_HOME", FHadConfig, FSavedConfig);
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string Lib(const std::string& name) const { return (root / "lib" / name).string(); }

private:
    static bool Keep(const char* name, std::string& saved) {
        const char* v = std::getenv(name);
        if (v) saved = v;
        return v != nullptr;
    }
    static void Restore(const char* name, bool had, const std::string& saved) {
        if (had) setenv(name, saved.c_str(), 1);
        else unsetenv(name);
    }
    std::string FSavedData, FSavedConfig;
    bool FHadData = false, FHadConfig = false;
};

}  // namespace fv::test
