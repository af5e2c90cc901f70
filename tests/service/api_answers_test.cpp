// The answer readers on their own: what they take from odd, damaged and hostile documents.
#include <gtest/gtest.h>

#include "service/api.h"

#include "../platform/loopback_peer.h"
#include "service/start_params.h"

namespace fv {
namespace {

TEST(ApiAnswers, ErrorDocumentAndRoots) {
    TFVApiResult r;
    ReadResultAnswer("<error><code>X1</code><message>bad</message></error>", "logout_response", r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Code, "X1");
    EXPECT_EQ(r.Message, "bad");
    EXPECT_EQ(r.Kind, fvrkRequestFailed);
    EXPECT_EQ(r.ErrorCode, "ER0001");
    r.Reset();
    ReadResultAnswer("<?xml version=\"1.0\"?><logout_response/>", "logout_response", r);
    EXPECT_TRUE(r.Success);
    EXPECT_EQ(r.Code, "logout_response");
    // a page that is not the call's answer is not its yes
    EXPECT_THROW(ReadResultAnswer("<html><body>maintenance</body></html>", "logout_response", r), EFolvaneApiError);
    EXPECT_THROW(ReadResultAnswer("", "logout_response", r), EFolvaneApiError);
    EXPECT_THROW(ReadResultAnswer("<logout_response><a>", "logout_response", r), EFolvaneApiError);
    EXPECT_THROW(ReadResultAnswer("plain text", "logout_response", r), EFolvaneApiError);
    EXPECT_EQ(std::string(ResultKindName(2)), "socketeEror");
    EXPECT_EQ(std::string(ResultKindName(9)), "UnKnown");
}

// A result-only call takes the root the service gives as its yes, whatever it is named; an error
// document and an HTML page are not; calls whose answer root is fixed still require it.
TEST(ApiAnswers, ResultOnlyCallsTakeAnyRootButErrorAndHtml) {
    struct TCase {
        const char* Body;
        bool Success;
        const char* Code;
    } cases[] = {{"<?xml version=\"1.0\"?><result status=\"ok\"/>", true, "result"},
                 {"<logout_response/>", true, "logout_response"},
                 {"<ok><done/></ok>", true, "ok"},
                 {"<error><code>E9</code><message>no</message></error>", false, "E9"},
                 {"<HTML><body>maintenance</body></HTML>", false, "EFolvaneApiError"},
                 {"<ok><unclosed>", false, "EFolvaneApiError"}};
    for (const TCase& c : cases) {
        std::string body = c.Body;
        TLoopbackPeer peer({{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body}});
        FVApiParams().Clear();
        FVApiParams().SetParams("sessionid=s1", true);
        FVApiParams().SetParamsFromAppInfo(fvmDispPage, peer.Origin() + "/api/", "", "", "", peer.Origin() + "/remote/", 0,
                                           0, 0, true, true, false, false);
        TFVApiResult r;
        FVApi_LogOut(r);
        EXPECT_EQ(r.Success, c.Success) << body;
        EXPECT_EQ(r.Code, c.Code) << body;
        r.Reset();
        FVApi_FinishedUploadBack("long-1", true, r);
        EXPECT_EQ(r.Success, c.Success) << body;
    }
    FVApiParams().Clear();
    // a call whose answer is named keeps requiring its name
    TFVApiResult r;
    std::string next = "unchanged";
    EXPECT_THROW(ReadNextPageAnswer("<result><nextpage url=\"u\"/></result>", "finishedUpload_response", next, r),
                 EFolvaneApiError);
    EXPECT_EQ(next, "unchanged");
    r.Reset();
    ReadResultAnswer("<anything/>", nullptr, r);
    EXPECT_TRUE(r.Success);
    EXPECT_EQ(r.Code, "anything");
    EXPECT_THROW(ReadResultAnswer("<html/>", nullptr, r), EFolvaneApiError);
}

TEST(ApiAnswers, UploadSettingsDefaultsAndSlots) {
    TFolvaneUploadInfoItem info;
    TFVApiResult r;
    ReadUploadInfoAnswer("<startUpload_response><folvane folvaneid=\"77\" hostname=\"h1\"/>"
                         "<allowparallel value=\"TRUE\"/><originalmax width=\"2000\" height=\"x\"/>"
                         "<thumbnails><thumbnail width=\"10\" height=\"10\"/>"
                         "<thumbnail thumbid=\"2\" width=\"320\" height=\"240\"/>"
                         "<thumbnail thumbid=\"9\" width=\"1\" height=\"1\"/>"
                         "<thumbnail thumbid=\"3\" width=\"99999999999\" height=\"-5\" jpegquality=\"70\"/>"
                         "</thumbnails></startUpload_response>",
                         info, r);
    EXPECT_TRUE(r.Success);
    EXPECT_EQ(info.FolvaneId(), "77");
    EXPECT_EQ(info.LongSessionId(), "");
    EXPECT_FALSE(info.AllowParallel());  // exactly "true"
    int32_t w, h, q;
    info.GetOriginalMax(w, h, q);
    EXPECT_EQ(w, 2000);
    EXPECT_EQ(h, 0);   // not a number
    EXPECT_EQ(q, 90);  // absent quality
    EXPECT_EQ(info.Thumb(1).ThumbId, 0);  // a thumbnail without id stores nothing
    EXPECT_EQ(info.Thumb(2).JpegQuality, 85);
    EXPECT_EQ(info.Thumb(2).Height, 240);
    EXPECT_EQ(info.Thumb(3).Width, -1);  // out of range counts as absent
    EXPECT_EQ(info.Thumb(3).Height, -5);
    EXPECT_EQ(info.Thumb(9).ThumbId, 0);
}

TEST(ApiAnswers, HostileOrDamagedIdentifiersLeaveOutputsAlone) {
    TFolvaneUploadInfoItem info;
    info.SetFolvaneId("old");
    TFVApiResult r;
    EXPECT_THROW(ReadUploadInfoAnswer("<startUpload_response><folvane folvaneid=\"1\" hostname=\"../x\"/>"
                                      "</startUpload_response>",
                                      info, r),
                 EFolvaneApiError);
    EXPECT_EQ(info.FolvaneId(), "old");
    std::vector<TFolvaneRestItem> rest;
    EXPECT_THROW(ReadRestItemsAnswer("<getRestUploadBack_response><resources><resource resuuid=\"a\" hostname=\"h\"/>"
                                     "<resource resuuid=\"a&#10;b\" hostname=\"h\"/></resources>"
                                     "</getRestUploadBack_response>",
                                     rest, r),
                 EFolvaneApiError);
    EXPECT_TRUE(rest.empty());
    // a resource without both attributes is skipped, not refused
    ReadRestItemsAnswer("<getRestUploadBack_response><resources><resource resuuid=\"a\"/>"
                        "<resource resuuid=\"b\" hostname=\"h\"/></resources></getRestUploadBack_response>",
                        rest, r);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].ResUuid, "b");
    EXPECT_FALSE(IsSafePathComponent(std::string("a\0b", 3)));
    EXPECT_FALSE(IsSafePathComponent(std::string(129, 'a')));
    EXPECT_TRUE(IsSafePathComponent("res-1.jpg"));
    EXPECT_TRUE(IsSafePathComponent("写真"));
}

TEST(ApiAnswers, NextPageAndResourceTakeTheChildTheyWant) {
    const std::string bgm = "<uploadBgm_response><resource resuuid=\"bgm-1\"/><nextpage url=\"http://n/\"/>"
                            "</uploadBgm_response>";
    TFVApiResult r;
    std::string next = "unchanged", res;
    ReadNextPageAnswer(bgm, "uploadBgm_response", next, r);
    EXPECT_EQ(next, "http://n/");
    ReadResourceIdAnswer(bgm, "uploadBgm_response", res, r);
    EXPECT_EQ(res, "bgm-1");
    next = "unchanged";
    ReadNextPageAnswer("<finishedUpload_response/>", "finishedUpload_response", next, r);
    EXPECT_TRUE(r.Success);
    EXPECT_EQ(next, "unchanged");
}

TEST(ApiAnswers, DeepAndHugeDocumentsEndCleanly) {
    std::string deep = "<checkFolvane_response>";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    std::vector<TFolvaneAlbum> albums;
    TFVApiResult r;
    EXPECT_THROW(ReadAlbumsAnswer(deep, albums, r), EFolvaneApiError);  // unclosed
    std::string many = "<checkFolvane_response><folvanes>";
    for (int i = 0; i < 20000; ++i) many += "<folvane folvaneid=\"" + std::to_string(i) + "\" title=\"\xff\xfe\"/>";
    many += "</folvanes></checkFolvane_response>";
    ReadAlbumsAnswer(many, albums, r);
    EXPECT_EQ(albums.size(), 20000u);
    EXPECT_EQ(albums[5].Title, "\xff\xfe");  // bytes kept as they came
    int32_t v = 0;
    EXPECT_FALSE(ParseDecimal32("2147483648", v));
    EXPECT_TRUE(ParseDecimal32("-2147483648", v));
    EXPECT_FALSE(ParseDecimal32(" 1", v));
}

}  // namespace
}  // namespace fv
