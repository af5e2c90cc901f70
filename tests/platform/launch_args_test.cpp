#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/launch_args.h"
#include "temp_dir.h"

using namespace fv;

TEST(LaunchArgs, FileUrisDecodeEscapesAsRawBytesAndRefuseOtherHosts) {
    std::string path, error;
    EXPECT_TRUE(DecodeFileUri("file:///home/u/My%20Photos/a.jpg", path, error));
    EXPECT_EQ(path, "/home/u/My Photos/a.jpg");
    // not UTF-8 after decoding: the bytes are kept as they are
    EXPECT_TRUE(DecodeFileUri("FILE://localhost/tmp/%E9%ff.jpg", path, error));
    EXPECT_EQ(path, "/tmp/\xE9\xFF.jpg");
    EXPECT_TRUE(DecodeFileUri("file:/tmp/x", path, error));
    EXPECT_EQ(path, "/tmp/x");
    EXPECT_TRUE(DecodeFileUri("file://LocalHost", path, error));
    EXPECT_EQ(path, "/");

    EXPECT_FALSE(DecodeFileUri("file://nas/photos/a.jpg", path, error));
    EXPECT_NE(error.find("nas"), std::string::npos);
    EXPECT_FALSE(DecodeFileUri("file://localhostx/a.jpg", path, error));
    EXPECT_FALSE(DecodeFileUri("file:///a%2", path, error));
    EXPECT_FALSE(DecodeFileUri("file:///a%zz", path, error));
    EXPECT_FALSE(DecodeFileUri("file:///a%00b", path, error));
    EXPECT_FALSE(DecodeFileUri("file:///a.jpg?x=1", path, error));
    EXPECT_FALSE(DecodeFileUri("file:relative", path, error));
    EXPECT_TRUE(path.empty());
}

struct LaunchArgsDisk : fv::test::TTempDirTest {
    void Touch(const std::string& name) { std::ofstream(dir / name) << "x"; }
};

TEST_F(LaunchArgsDisk, ParamsStayParamsAndOnlyExistingEntriesArePaths) {
    std::filesystem::create_directories(dir / "My Photos");
    Touch("My Photos/a b.jpg");
    Touch("mode=x");  // a file of that name does not take the parameter's meaning away
    std::string d = dir.string();
    TLaunchArgs a = SplitLaunchArgs({"mode=startcreatefolvane", "My Photos", "./My Photos/a b.jpg", "mode=x",
                                     "plainword", "file://" + d + "/My%20Photos/../My%20Photos/a%20b.jpg", ""},
                                    d);
    EXPECT_EQ(a.Params, (std::vector<std::string>{"mode=startcreatefolvane", "mode=x", "plainword", ""}));
    EXPECT_EQ(a.Paths, (std::vector<std::string>{d + "/My Photos", d + "/My Photos/a b.jpg", d + "/My Photos/a b.jpg"}));
    EXPECT_TRUE(a.Problems.empty());
    EXPECT_FALSE(a.Help || a.Version);

    // a path with '=' in a folder name is still a path: the name before '=' holds a '/'
    std::filesystem::create_directories(dir / "k=v");
    TLaunchArgs b = SplitLaunchArgs({d + "/k=v", "--version", "-h"}, "/");
    EXPECT_EQ(b.Paths, (std::vector<std::string>{d + "/k=v"}));
    EXPECT_TRUE(b.Help && b.Version);
}

TEST_F(LaunchArgsDisk, MissingPathsFifosAndForeignHostsAreProblemsNotParams) {
    std::string d = dir.string();
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    TLaunchArgs a = SplitLaunchArgs({d + "/gone.jpg", "./gone", d + "/pipe", "/dev/null", "file:///nowhere/\xff",
                                     "file://host/x.jpg", std::string("/tmp/\xE9") + "\x01"},
                                    d);
    EXPECT_TRUE(a.Params.empty());
    EXPECT_TRUE(a.Paths.empty());
    ASSERT_EQ(a.Problems.size(), 7u);
    EXPECT_NE(a.Problems[0].find("gone.jpg"), std::string::npos);
    EXPECT_NE(a.Problems[2].find("not a file or a folder"), std::string::npos);
    EXPECT_NE(a.Problems[3].find("not a file or a folder"), std::string::npos);
    // bytes that are not UTF-8 and control bytes are shown escaped, never raw
    EXPECT_NE(a.Problems[4].find("\\xFF"), std::string::npos);
    EXPECT_NE(a.Problems[5].find("another computer"), std::string::npos);
    EXPECT_NE(a.Problems[6].find("\\xE9\\x01"), std::string::npos);
}

TEST_F(LaunchArgsDisk, TenThousandArgumentsAreBounded) {
    std::string d = dir.string();
    std::vector<std::string> many(10000, d);
    for (int i = 0; i < 10000; ++i) many.push_back(d + "/missing" + std::to_string(i));
    TLaunchArgs a = SplitLaunchArgs(many, "/");
    EXPECT_EQ(a.Paths.size(), kMaxLaunchPaths);
    EXPECT_LE(a.Problems.size(), 22u);
    EXPECT_NE(a.Problems.back().find("9000 more paths"), std::string::npos);
}
