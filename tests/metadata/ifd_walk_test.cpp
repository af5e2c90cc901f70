#include <gtest/gtest.h>

#include "metadata/exif_item.h"
#include "metadata/tiff_info.h"
#include "tiff_builder.h"

using namespace fv;
using namespace fvtest;

namespace {
// IFD0 with three entries (the second's text lies behind the directory) and a Sub IFD of two
Bytes ThreeAndTwo(bool big) {
    TTiffBuilder b(big);
    int ifd0 = b.AddIfd(), sub = b.AddIfd();
    b.Short(ifd0, 0x0100, {640});
    b.Ascii(ifd0, 0x010F, "Maker name");
    b.Pointer(ifd0, 0x8769, sub);
    b.Short(sub, 0xA002, {11});
    b.Short(sub, 0xA003, {22});
    b.Next(ifd0, sub);
    return b.Build();
}
}  // namespace

TEST(IfdWalk, EntriesComeInOrderEvenWhenTheVisitorMovesTheStream) {
    for (bool big : {false, true}) {
        Bytes t = ThreeAndTwo(big);
        TBytesStream s(t.data(), t.size());
        TTiffReader r(s);
        uint32_t ifd0 = r.Open();
        std::vector<uint16_t> tags;
        std::string text;
        TIfdWalkResult w = r.WalkDirectory(ifd0, TIfdRole::Main, [&](const TIfdEntry& e) {
            tags.push_back(e.Tag);
            if (e.Tag == 0x010F) text = r.AsciiValue(e);  // reads far behind the directory
            return true;
        });
        EXPECT_EQ(tags, (std::vector<uint16_t>{0x0100, 0x010F, 0x8769})) << big;
        EXPECT_EQ(text, "Maker name");
        EXPECT_EQ(w.Count, 3);
        EXPECT_EQ(w.Visited, 3);
        EXPECT_FALSE(w.Truncated || w.Repeated || w.Refused);

        // the link leads on once; once walked, the same directory is neither linked nor walked again
        uint32_t next = r.NextDirectoryOffset(ifd0, w.Count);
        ASSERT_NE(next, 0u);
        int seen = 0;
        EXPECT_EQ(r.WalkDirectory(next, TIfdRole::Sub, [&](const TIfdEntry&) { return ++seen < 1; }).Visited, 1);
        EXPECT_EQ(seen, 1);  // the visitor stopped the walk
        EXPECT_TRUE(r.WalkDirectory(next, TIfdRole::Sub, [&](const TIfdEntry&) { return ++seen, true; }).Repeated);
        EXPECT_TRUE(r.WalkDirectory(ifd0, TIfdRole::Main, [&](const TIfdEntry&) { return ++seen, true; }).Repeated);
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(r.NextDirectoryOffset(ifd0, w.Count), 0u);
    }
}

TEST(IfdWalk, CutsRefusalsAndLinksOutsideTheStream) {
    Bytes t = ThreeAndTwo(false);
    const size_t subAt = t.size() - (2 + 2 * 12 + 4);
    // the Sub directory cut inside its second entry: the first still counts
    Bytes cut(t.begin(), t.begin() + static_cast<long>(subAt + 2 + 12 + 5));
    TBytesStream s(cut.data(), cut.size());
    TTiffReader r(s);
    uint32_t ifd0 = r.Open();
    std::vector<uint16_t> tags;
    TIfdWalkResult w = r.WalkDirectoryAt(static_cast<int64_t>(subAt), TIfdRole::Sub, [&](const TIfdEntry& e) {
        tags.push_back(e.Tag);
        return true;
    });
    EXPECT_TRUE(w.Truncated);
    EXPECT_EQ(w.Count, 2);
    EXPECT_EQ(tags, std::vector<uint16_t>{0xA002});
    // the same cut in a main directory raises before anything is visited
    TTiffReader again(s);
    s.Seek(0, soBeginning);
    again.Open();
    int visits = 0;
    EXPECT_THROW(again.WalkDirectoryAt(static_cast<int64_t>(subAt), TIfdRole::Main,
                                       [&](const TIfdEntry&) { return ++visits, true; }),
                 ETiffFormatError);
    EXPECT_EQ(visits, 0);
    // a count outside the stream, a count at the caller's limit, links that lead nowhere
    EXPECT_THROW(r.WalkDirectoryAt(static_cast<int64_t>(cut.size()) - 1, TIfdRole::Sub, {}), ETiffFormatError);
    EXPECT_THROW(r.WalkDirectoryAt(-2, TIfdRole::Sub, {}), ETiffFormatError);
    EXPECT_TRUE(r.WalkDirectory(ifd0, TIfdRole::Main, {}, 3).Refused);
    EXPECT_EQ(r.NextDirectoryOffset(static_cast<uint32_t>(cut.size()), 0), 0u);
    Bytes far = t;
    far[8 + 2 + 3 * 12] = 0xF0;  // IFD0's link now points far past the end
    TBytesStream fs(far.data(), far.size());
    TTiffReader fr(fs);
    EXPECT_EQ(fr.NextDirectoryOffset(fr.Open(), 3), 0u);
}

TEST(IfdWalk, TheQuickReaderAndTheExifReaderFollowTheSameRules) {
    // IFD0 cut short: neither reader takes anything from it
    Bytes t = ThreeAndTwo(true);
    Bytes cut(t.begin(), t.begin() + 8 + 2 + 12 * 2 + 6);
    TBytesStream s(cut.data(), cut.size());
    TTiffInfoRec rec;
    ReadTiffInfo(s, true, rec);
    EXPECT_EQ(rec.Width, 0);
    TExifItem item;
    TBytesStream s2(cut.data(), cut.size());
    EXPECT_FALSE(item.LoadFromStream(s2, false));

    // an Exif directory that is IFD1 too, and IFD1 that links back to IFD0: read once each
    TTiffBuilder b(false);
    int ifd0 = b.AddIfd(), ifd1 = b.AddIfd();
    b.Short(ifd0, 0x0100, {64});
    b.Pointer(ifd0, 0x8769, ifd1);
    b.Ascii(ifd1, 0x9003, "2021:05:06 07:08:09");
    b.Short(ifd1, 0x0100, {16});
    b.Next(ifd0, ifd1);
    b.Next(ifd1, ifd0);
    Bytes l = b.Build();
    TBytesStream s3(l.data(), l.size());
    ReadTiffInfo(s3, true, rec);
    EXPECT_EQ(rec.Width, 64);
    EXPECT_EQ(DateTimeToExifStr(rec.ShootingDate), "2021:05:06 07:08:09");
    EXPECT_EQ(rec.ThumbWidth, 0);  // that directory was walked as the Exif one already
    TBytesStream s4(l.data(), l.size());
    ASSERT_TRUE(item.LoadFromStream(s4, false));
    EXPECT_EQ(DateTimeToExifStr(item.DateTimeOriginal), "2021:05:06 07:08:09");
}

// Every reader of a TIFF header takes its byte order from the same two bytes: "MM" big-endian,
// "II" little-endian, anything else no header at all.
TEST(IfdWalk, TheByteOrderMarkNamesTheOrderOfEveryReader) {
    EXPECT_EQ(ByteOrderMarkOf("MM"), TByteOrderMark::Big);
    EXPECT_EQ(ByteOrderMarkOf("II"), TByteOrderMark::Little);
    EXPECT_EQ(ByteOrderMarkOf("MI"), TByteOrderMark::None);
    EXPECT_EQ(ByteOrderMarkOf("IM"), TByteOrderMark::None);
    EXPECT_EQ(ByteOrderMarkOf("mm"), TByteOrderMark::None);

    // the reader opened on either header reads the same IFD offset
    for (bool big : {true, false}) {
        std::vector<uint8_t> head = big ? std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8}
                                        : std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0};
        TMemoryStream s(head);
        TTiffReader r(s);
        EXPECT_EQ(r.Open(), 8u);
        EXPECT_EQ(r.BigEndian(), big);
    }
    // a header without a mark is not found; one after a few bytes is
    TMemoryStream none(std::vector<uint8_t>(40, 'x'));
    EXPECT_FALSE(FindTiffHeader(none));
    std::vector<uint8_t> later(40, 'x');
    later[5] = 'I';
    later[6] = 'I';
    TMemoryStream found(later);
    ASSERT_TRUE(FindTiffHeader(found));
    EXPECT_EQ(found.Position(), 5);
}
