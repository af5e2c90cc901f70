#include <cstdlib>
#include <sstream>

#include "core/engine.h"
#include "core/log.h"
#include "library/library_engine.h"
#include "library_test_util.h"

namespace fvtest {

void EngineTest::SetUp() {
    TempDirTest::SetUp();
    if (const char* v = std::getenv("XDG_DATA_HOME")) savedData = v;
    if (const char* v = std::getenv("XDG_CONFIG_HOME")) savedConfig = v;
    setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
    fv::OpenCorvaLog(Path());
    fv::InstallLibraryEngine();
}

void EngineTest::TearDown() {
    if (fv::CorvaEngineExists()) fv::FinalCorvaEngine();
    fv::SetCorvaEngineBody(nullptr);
    fv::CloseCorvaLog();
    setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    TempDirTest::TearDown();
}

std::string EngineTest::Log() const {
    std::ifstream in(fv::CorvaLogFileName(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace fvtest
