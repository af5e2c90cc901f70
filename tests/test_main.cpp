// Entry of every test program: GoogleTest plus a private $HOME/$XDG_* per run so
// that no test touches the user's own registry, data or log folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/fv-test-home-XXXXXX";
    if (const char* home = mkdtemp(tmpl)) {
        std::string h = home;
        setenv("HOME", h.c_str(), 1);
        setenv("XDG_DATA_HOME", (h + "/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (h + "/.config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", h.c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::string cleanup = std::string("rm -rf '") + tmpl + "'";
    if (std::system(cleanup.c_str()) != 0) {
        // leaving a temporary folder behind is not a test failure
    }
    return rc;
}
