#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {
struct RegistryFile : ::testing::Test {
    fs::path dir;
    std::string file;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("fv-reg-" + std::to_string(::getpid()) + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        file = (dir / "sub/registry.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Text() {
        std::ifstream in(file);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Put(const std::string& text) {
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file, std::ios::trunc) << text;
    }
};
}  // namespace

TEST_F(RegistryFile, TypedValuesSurviveARoundTripThroughTheFile) {
    {
        TRegistry reg(file);
        ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Kestrona\\Test", true));
        reg.WriteInteger("Int", -5);
        reg.WriteBool("Flag", true);
        reg.WriteString("Text", "写真 \"quoted\"\r\nline\\two\x01");
        unsigned char bin[3] = {0, 0xff, 0x10};
        reg.WriteBinaryData("Bin", bin, 3);
        reg.WriteBinaryData("Empty", bin, 0);
        reg.WriteFloat("Date", 45000.25);
    }
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKeyReadOnly("software\\kestrona\\test\\"));  // names ignore ASCII case
    EXPECT_EQ(reg.ReadInteger("Int"), -5);
    EXPECT_TRUE(reg.ReadBool("flag"));
    EXPECT_EQ(reg.ReadString("Text"), "写真 \"quoted\"\r\nline\\two\x01");
    unsigned char out[8] = {};
    EXPECT_EQ(reg.ReadBinaryData("Bin", out, 8), 3);
    EXPECT_EQ(out[1], 0xff);
    EXPECT_EQ(reg.ReadBinaryData("Empty", out, 8), 0);
    EXPECT_DOUBLE_EQ(reg.ReadFloat("Date"), 45000.25);
    EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"Int", "Flag", "Text", "Bin", "Empty", "Date"}));
    EXPECT_EQ(reg.GetDataType("Bin"), TRegDataType::rdBinary);
    EXPECT_EQ(reg.GetDataSize("Missing"), -1);
    EXPECT_THROW(reg.WriteInteger("x", 1), ERegistryException);  // read-only
}

TEST_F(RegistryFile, ReadingWithAnotherTypeOrALargerBinaryRaises) {
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKey("K", true));
    reg.WriteString("S", "1");
    unsigned char two[2] = {1, 2};
    reg.WriteBinaryData("B", two, 2);
    EXPECT_THROW(reg.ReadInteger("S"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
    unsigned char one = 0;
    EXPECT_THROW(reg.ReadBinaryData("B", &one, 1), ERegistryException);
    EXPECT_THROW(reg.ReadString("B"), ERegistryException);
    try {
        reg.ReadInteger("S");
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Invalid data type for 'S'");
    }
}

TEST_F(RegistryFile, KeysHaveSubkeysAndDeleteWithThem) {
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKey("A\\B\\C", true));
    reg.WriteInteger("v", 1);
    ASSERT_TRUE(reg.OpenKey("A\\D", true));
    reg.CloseKey();
    EXPECT_TRUE(reg.KeyExists("A"));
    EXPECT_TRUE(reg.KeyExists("A\\B"));
    EXPECT_FALSE(reg.KeyExists("A\\X"));
    EXPECT_FALSE(reg.OpenKey("A\\X", false));
    ASSERT_TRUE(reg.OpenKey("A", false));
    EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"B", "D"}));
    reg.CloseKey();
    EXPECT_TRUE(reg.DeleteKey("A\\B"));
    EXPECT_FALSE(reg.KeyExists("A\\B\\C"));
    EXPECT_TRUE(reg.KeyExists("A\\D"));
    TRegistry again(file);
    EXPECT_FALSE(again.KeyExists("A\\B\\C"));
}

TEST_F(RegistryFile, WritesReplaceTheFileAtomically) {
    {
        TRegistry reg(file);
        reg.OpenKey("K", true);
        reg.WriteInteger("v", 7);
    }
    std::string first = Text();
    EXPECT_NE(first.find("[K]\n\"v\"=dword:00000007\n"), std::string::npos) << first;
    for (auto& e : fs::directory_iterator(fs::path(file).parent_path()))
        EXPECT_EQ(e.path().filename(), "registry.ini");  // no temporary left behind
    // a failed write leaves the old file as it was
    fs::permissions(fs::path(file).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(fs::path(file).parent_path().c_str(), W_OK) != 0) {  // root ignores permissions
        TRegistry reg(file);
        reg.OpenKey("K", true);
        reg.WriteInteger("v", 8);
        EXPECT_THROW(reg.CloseKey(), ERegistryException);
        EXPECT_EQ(Text(), first);
    }
    fs::permissions(fs::path(file).parent_path(), fs::perms::owner_all);
}

// Settings written back unchanged at every program end must not replace (and flush) the file;
// any real difference, a value's type or the case of its name included, still does.
TEST_F(RegistryFile, WritingTheStoredValuesAgainLeavesTheFileAlone) {
    auto writeAll = [&](int32_t i, const std::string& text, const char* intName = "Int") {
        TRegistry reg(file);
        ASSERT_TRUE(reg.OpenKey("App\\Settings", true));
        reg.WriteInteger(intName, i);
        reg.WriteString("Text", text);
        reg.WriteFloat("When", 45000.5);
        reg.WriteBool("Flag", true);
    };
    auto fileId = [&] {
        struct stat st {};
        return ::stat(file.c_str(), &st) == 0 ? static_cast<long long>(st.st_ino) : -1LL;
    };
    writeAll(5, "a");
    long long first = fileId();
    ASSERT_NE(first, -1);
    std::string text = Text();
    writeAll(5, "a");
    EXPECT_EQ(fileId(), first) << "an unchanged write replaced the file";
    EXPECT_EQ(Text(), text);

    writeAll(6, "a");
    long long second = fileId();
    EXPECT_NE(second, first);
    EXPECT_NE(Text().find("dword:00000006"), std::string::npos);
    writeAll(6, "b");
    EXPECT_NE(fileId(), second);
    EXPECT_NE(Text().find("\"Text\"=sz:\"b\""), std::string::npos) << Text();
    long long third = fileId();
    writeAll(6, "b", "INT");  // the same value under a name spelt otherwise is stored as spelt
    EXPECT_NE(fileId(), third);
    EXPECT_NE(Text().find("\"INT\"=dword:00000006"), std::string::npos) << Text();
    {
        TRegistry reg(file);
        ASSERT_TRUE(reg.OpenKey("App\\Settings", true));
        reg.WriteString("INT", "6");  // another type under the same name
    }
    EXPECT_NE(Text().find("\"INT\"=sz:\"6\""), std::string::npos) << Text();
}

TEST_F(RegistryFile, ADamagedFileIsNeverWrittenOverAndCanBeKeptAside) {
    const std::string damaged = "[K]\n\"v\"=dword:1\ngarbage here\n";
    Put(damaged);
    TRegistry reg(file);
    try {
        reg.OpenKey("K", false);
        FAIL() << "damage not noticed";
    } catch (const ERegistryDamagedError& e) {
        EXPECT_NE(e.Message().find("line 3"), std::string::npos) << e.Message();
    }
    // writers fail as well instead of replacing the file with what they know
    EXPECT_THROW(reg.OpenKey("K", true), ERegistryDamagedError);
    EXPECT_THROW(reg.CreateKey("Other"), ERegistryDamagedError);
    EXPECT_EQ(Text(), damaged);

    EXPECT_EQ(KeepRegistryFileAside(file), file + ".bad");
    EXPECT_FALSE(fs::exists(file));
    std::ifstream bad(file + ".bad");
    std::string kept((std::istreambuf_iterator<char>(bad)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, damaged);
    EXPECT_TRUE(reg.OpenKey("K", true));  // a fresh store from here on
    reg.CloseKey();
    // the next damaged file does not replace the one kept before
    Put("[K\n");
    EXPECT_THROW(reg.KeyExists("K"), ERegistryDamagedError);
    EXPECT_EQ(KeepRegistryFileAside(file), file + ".bad2");
    EXPECT_EQ(KeepRegistryFileAside(file), "");  // nothing left to move
}

TEST(RegistryText, ParserRejectsMalformedValues) {
    const char* bad[] = {"\"v\"=dword:1\n",         "[K]\n\"v\"=dword:123456789\n", "[K]\n\"v\"=dword:zz\n",
                         "[K]\n\"v\"=hex:0\n",      "[K]\n\"v\"=hex:00,\n",         "[K]\n\"v\"=hex:0g\n",
                         "[K]\n\"v\"=sz:\"open\n",  "[K]\n\"v\"=sz:\"a\\q\"\n",     "[K]\n\"v\"=sz:\"a\"x\n",
                         "[K]\nv=dword:1\n",        "[K]\n\"v\"dword:1\n",          "[K]\n\"v\"=float:1\n",
                         "[K]\n\"v\"=sz:\"\\x4\"\n"};
    for (const char* t : bad) EXPECT_THROW(ParseRegistryText(t), ERegistryException) << t;
    auto keys = ParseRegistryText("; c\r\n[A]\r\n\"x\"=hex:\r\n\"x\"=hex:01,02\r\n[a]\r\n\"y\"=sz:\"\"\r\n");
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(keys[0].Values.size(), 2u);
    EXPECT_EQ(keys[0].Values[0].Bytes, std::string("\x01\x02", 2));
    EXPECT_EQ(ParseRegistryText(FormatRegistryText(keys))[0].Values[1].Name, "y");
}
