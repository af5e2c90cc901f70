#pragma once
// A fresh folder per test under the system's temporary folder, named after the process and the
// test, removed again at the end; and the whole text of a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fv::test {

inline std::string ReadFileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct TTempDirTest : ::testing::Test {
    std::filesystem::path dir;
    // the folder's name starts with this
    virtual const char* DirPrefix() const { return "fv-test-"; }
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              (DirPrefix() + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

}  // namespace fv::test
