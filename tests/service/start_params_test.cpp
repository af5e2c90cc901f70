#include "service/start_params.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace fv {
namespace {

using Items = std::vector<std::string>;

TEST(StartParams, SplitsCommaTextWithQuotesAndDoubledMarks) {
    EXPECT_EQ(SplitCommaText("a=1,b=2"), (Items{"a=1", "b=2"}));
    EXPECT_EQ(SplitCommaText("\"url=a,b\",\"t=say \"\"hi\"\"\""), (Items{"url=a,b", "t=say \"hi\""}));
    EXPECT_EQ(SplitCommaText("a=1,"), (Items{"a=1", ""}));
    // an unterminated quotation runs to the end
    EXPECT_EQ(SplitCommaText("\"a=1,b=2"), (Items{"a=1,b=2"}));
    EXPECT_EQ(CommandLineToCSV({"mode=x", "t=\"q\""}), "\"mode=x\",\"t=\"\"q\"\"\"");
    EXPECT_EQ(CommandLineToCSV({}), "");
    // the program's own text parses back into the same items
    Items params = {"url=a,b=c", "x=\"\"", ""};
    EXPECT_EQ(SplitCommaText(CommandLineToCSV(params)), params);
}

TEST(StartParams, ModeCleanupAndTrayRequests) {
    TFVApiParams p;
    ASSERT_TRUE(p.SetParams("mode=STARTCREATEFOLVANE,folvaneid=123,url=x,folvanebgmresuuid=b", true));
    EXPECT_EQ(p.Mode(), fvmStartCreateFolvane);
    EXPECT_EQ(p.ModeName(), "startcreatefolvane");
    EXPECT_EQ(p.FolvaneId(), "");
    EXPECT_EQ(p.DisplayUrl(), "");
    EXPECT_EQ(p.BgmResUuid(), "");
    EXPECT_EQ(p.TrayRequest(), fvtrShow | fvtrExpand);

    ASSERT_TRUE(p.SetParams("mode=appendfolvane,folvaneid=9,url=y", true));
    EXPECT_EQ(p.FolvaneId(), "9");
    EXPECT_EQ(p.DisplayUrl(), "");
    EXPECT_EQ(p.TrayRequest(), 0);

    // an explicit request wins over the mode's
    ASSERT_TRUE(p.SetParams("mode=startappendfolvane,dispfolvanetray=fold", true));
    EXPECT_EQ(p.TrayRequest(), fvtrShow | fvtrFold);
    ASSERT_TRUE(p.SetParams("dispfolvanetray=disable,dispfolvanetray=enable", true));
    EXPECT_EQ(p.TrayRequest(), fvtrShow | fvtrHide | fvtrExpand | fvtrFold);  // members accumulate
    ASSERT_TRUE(p.SetParams("mode=disppage,url=http://h/p", false));
    EXPECT_EQ(p.TrayRequest(), 0);  // emptied by every SetParams
    EXPECT_EQ(p.DisplayUrl(), "http://h/p");

    ASSERT_TRUE(p.SetParams("mode=unknown", true));
    EXPECT_EQ(p.Mode(), fvmNotBoot);
    EXPECT_EQ(ModeFromName("Close"), fvmClose);
}

TEST(StartParams, ValuesNumbersAndSwitches) {
    TFVApiParams p;
    ASSERT_TRUE(p.SetParams("disptab=Hidden,dispframe=DISABLE,bodyiconwidth=120,bodyiconheight=77,url=a=b", true));
    EXPECT_FALSE(p.DispTab());
    EXPECT_FALSE(p.DispFrame());
    EXPECT_EQ(p.BodyIconWidth(), 120);
    EXPECT_EQ(p.DisplayUrl(), "a=b");  // everything after the first "="
    ASSERT_TRUE(p.SetParams("disptab=yes,bodyiconwidth=abc,folvanephotonum=99999999999,SessionID=s1", false));
    EXPECT_TRUE(p.DispTab());
    EXPECT_FALSE(p.DispFrame());          // absent key keeps its value without reset
    EXPECT_EQ(p.BodyIconWidth(), 0);      // not a number
    EXPECT_EQ(p.BodyIconHeight(), 77);
    EXPECT_EQ(p.PhotoCount(), 0);         // out of range is not a number either
    EXPECT_EQ(p.SessionId(), "s1");       // keys ignore letter case
    // reset applies the defaults, other fields stay
    EXPECT_FALSE(p.SetParams("", true));
    EXPECT_TRUE(p.DispTab());
    EXPECT_TRUE(p.DispFrame());
    EXPECT_EQ(p.BodyIconWidth(), 240);
    EXPECT_EQ(p.SessionId(), "s1");
    EXPECT_EQ(p.Mode(), fvmNotBoot);
}

TEST(StartParams, AppInfoChangesTheTrayOnlyWhenItsSettingChanges) {
    TFVApiParams p;
    auto apply = [&](bool tray) {
        return p.SetParamsFromAppInfo(fvmDispPage, "http://b/", "boot", "ai", "help", "", 0, 0, -1, true, tray, false,
                                      false);
    };
    apply(true);
    EXPECT_EQ(p.TrayRequest(), 0);  // taken as enabled before any document
    apply(false);
    EXPECT_EQ(p.TrayRequest(), fvtrHide | fvtrFold);
    apply(false);
    EXPECT_EQ(p.TrayRequest(), 0);
    apply(true);
    EXPECT_EQ(p.TrayRequest(), fvtrShow | fvtrExpand);
    EXPECT_EQ(p.BaseUrl(), "http://b/");
    EXPECT_EQ(p.PictoriumCacheMax(), -1);
    p.SetParamsFromAppInfo(fvmDispPage, "", "", "", "", "", 0, 0, 0, true, true, false, false);
    EXPECT_EQ(p.BaseUrl(), "");  // an empty value replaces a non-empty one
    p.SetBootPage(fvmDispPage, "file:///err", "h");
    EXPECT_EQ(p.BootUrl(), "file:///err");
}

TEST(StartParams, SessionIdIsMaskedForTheLog) {
    EXPECT_EQ(MaskSessionId(""), "");
    EXPECT_EQ(MaskSessionId("0123456789abcdef"), "0123***");
    EXPECT_EQ(MaskSessionId("abc"), "a***");
    EXPECT_EQ(MaskSessionId("x").find('x'), std::string::npos);
}

TEST(StartParams, ReadersNeverSeeAHalfAppliedCommand) {
    TFVApiParams p;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            TFVApiParamsValues v = p.Values();
            // the create mode always clears the book id in the same write
            if (v.Mode == fvmStartCreateFolvane && !v.FolvaneId.empty()) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        p.SetParams("mode=appendfolvane,folvaneid=7", true);
        p.SetParams("mode=startcreatefolvane,folvaneid=8", true);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace fv
