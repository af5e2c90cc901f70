#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "library/catalog_item.h"
#include "metadata/correction_record.h"
#include "library/folder.h"
#include "library/item_calendar_link.h"
#include "metadata/orientation.h"
#include "library_test_util.h"

using namespace fv;

namespace {

std::vector<uint8_t> Save(TCatalogItem& it) {
    TMemoryStream m;
    it.SaveToStream(m);
    return m.Data();
}

float F(const uint8_t* p) {
    uint32_t u = GetU32(p);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
double D(const uint8_t* p) {
    uint64_t u = GetU64(p);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

// an item with a distinct value in every field
void Fill(TCatalogItem& it) {
    TCatalogItemRecord r;
    r.ItemNumber = 0x01020304;
    r.Reserved0 = 77;  // written as 0
    r.Kind = 5;
    r.PixelFormat = 6;
    r.Width = 4000;
    r.Height = -3000;
    r.FileSize = 123456789;
    r.FileTime = 45000.25;
    r.Correction.Enabled = 1;
    r.Correction.Brightness = -20;
    r.Correction.Contrast = 15;
    r.Correction.Gamma = 120;
    r.Correction.Red = 1;
    r.Correction.Green = 2;
    r.Correction.Blue = 3;
    r.Correction.Filter1 = 8;
    r.Correction.Filter2 = 9;
    r.Correction.Filter3 = 35;
    for (int i = 0; i < 5; ++i) {
        r.CacheStates[i] = static_cast<uint8_t>(10 + i);
        r.CacheIndices[i] = 100 + i;
        r.Reserved83[i] = static_cast<uint8_t>(0xA0 + i);
    }
    r.StoredPosition = 513;
    r.CameraState = cdRead;
    r.Reserved91 = 0x5A;
    r.PrintReservation = 2;
    r.Flags = ifMark | ifViewable | ifReadOnly;
    r.Orientation = 6;
    r.CacheSlotA = 4242;
    r.CacheSlotB = 4343;
    r.ShootingDate = 44000.5;
    r.Rating = 3;
    r.ResolutionX = 72.0f;
    r.ResolutionY = 300.0f;
    r.FocalLength = 35.5f;
    r.ExposureTime = 0.004f;
    r.FNumber = 2.8f;
    r.ExposureBias = -0.7f;
    r.InCalendar = 1;
    r.CommentImported = 1;
    r.OrientationKnown = 1;
    it.SetRecord(r);
    it.SetFileNameRaw("IMG_0001.JPG");
    it.SetTitle("title");
    it.SetFurtherText("further");
    it.SetComment("コメント");
    it.SetModelName("Canon EOS 40D");
    it.SetIsoText("400");
    it.SetSourceLocation("eyefi://card");
}

// a hand-made stream: version, length and record bytes, then `texts` texts
std::vector<uint8_t> Handmade(uint32_t version, const std::vector<uint8_t>& record, uint16_t length, int texts) {
    TMemoryStream m;
    m.WriteU32(version);
    m.WriteU16(length);
    m.WriteBuffer(record.data(), static_cast<int64_t>(record.size()));
    for (int i = 0; i < texts; ++i) m.WriteText("t" + std::to_string(i));
    return m.Data();
}

}  // namespace

TEST(CatalogItemRecord, FieldsSitAtTheirOffsets) {
    TCatalogItem it;
    Fill(it);
    std::vector<uint8_t> b = Save(it);
    ASSERT_GE(b.size(), 146u);
    EXPECT_EQ(GetU32(&b[0]), 54u);
    EXPECT_EQ(GetU16(&b[4]), 140u);
    const uint8_t* r = &b[6];
    EXPECT_EQ(GetU32(r + 0), 0x01020304u);
    EXPECT_EQ(GetU32(r + 4), 0u);
    EXPECT_EQ(r[8], 5);
    EXPECT_EQ(r[9], 6);
    EXPECT_EQ(static_cast<int32_t>(GetU32(r + 10)), 4000);
    EXPECT_EQ(static_cast<int32_t>(GetU32(r + 14)), -3000);
    EXPECT_EQ(GetU32(r + 18), 123456789u);
    EXPECT_EQ(D(r + 22), 45000.25);
    EXPECT_EQ(r[30], 1);
    EXPECT_EQ(static_cast<int32_t>(GetU32(r + 31)), -20);
    EXPECT_EQ(GetU32(r + 35), 15u);
    EXPECT_EQ(GetU32(r + 39), 120u);
    EXPECT_EQ(GetU32(r + 43), 1u);
    EXPECT_EQ(GetU32(r + 47), 2u);
    EXPECT_EQ(GetU32(r + 51), 3u);
    EXPECT_EQ(r[55], 8);
    EXPECT_EQ(r[56], 9);
    EXPECT_EQ(r[57], 35);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(r[58 + i], 10 + i);
        EXPECT_EQ(GetU32(r + 63 + 4 * i), static_cast<uint32_t>(100 + i));
        EXPECT_EQ(r[83 + i], 0xA0 + i);
    }
    EXPECT_EQ(GetU16(r + 88), 513);
    EXPECT_EQ(r[90], 1);
    EXPECT_EQ(r[91], 0x5A);
    EXPECT_EQ(r[92], 2);
    EXPECT_EQ(r[93], ifMark | ifViewable | ifReadOnly);
    EXPECT_EQ(GetU16(r + 94), 6);
    EXPECT_EQ(GetU32(r + 96), 4242u);
    EXPECT_EQ(GetU32(r + 100), 4343u);
    EXPECT_EQ(D(r + 104), 44000.5);
    EXPECT_EQ(r[112], 3);
    EXPECT_EQ(F(r + 113), 72.0f);
    EXPECT_EQ(F(r + 117), 300.0f);
    EXPECT_EQ(F(r + 121), 35.5f);
    EXPECT_EQ(F(r + 125), 0.004f);
    EXPECT_EQ(F(r + 129), 2.8f);
    EXPECT_EQ(F(r + 133), -0.7f);
    EXPECT_EQ(r[137], 1);
    EXPECT_EQ(r[138], 1);
    EXPECT_EQ(r[139], 1);
    // texts follow in their order, each a 32-bit count and the bytes
    TBytesStream s(b.data() + 146, b.size() - 146);
    EXPECT_EQ(s.ReadText(), "IMG_0001.JPG");
    EXPECT_EQ(s.ReadText(), "title");
    EXPECT_EQ(s.ReadText(), "further");
    EXPECT_EQ(s.ReadText(), "コメント");
    EXPECT_EQ(s.ReadText(), "Canon EOS 40D");
    EXPECT_EQ(s.ReadText(), "400");
    EXPECT_EQ(s.ReadText(), "eyefi://card");
    EXPECT_EQ(s.Remaining(), 0);
}

TEST(CatalogItemRecord, RoundTripsByteForByte) {
    TCatalogItem a;
    Fill(a);
    std::vector<uint8_t> first = Save(a);
    TMemoryStream m(first);
    TCatalogItem b;
    b.LoadFromStream(m);
    EXPECT_EQ(m.Remaining(), 0);
    EXPECT_EQ(Save(b), first);
    EXPECT_EQ(b.GetComment(), "コメント");
    EXPECT_EQ(b.GetSourceLocation(), "eyefi://card");
}

TEST(CatalogItemRecord, NewItemDefaults) {
    TCatalogItem it;
    std::vector<uint8_t> b = Save(it);
    const uint8_t* r = &b[6];
    EXPECT_EQ(GetU32(r + 4), 0u);          // reserved -1 in memory, written as 0
    EXPECT_EQ(GetU32(r + 39), 100u);       // neutral gamma
    EXPECT_EQ(GetU16(r + 88), 0xFFFF);     // no stored position
    EXPECT_EQ(r[93], 20);                  // thumbnail and camera summary out of date
    EXPECT_EQ(GetU16(r + 94), 1);
    EXPECT_EQ(GetU32(r + 96), 0xFFFFFFFFu);
    EXPECT_EQ(GetU32(r + 100), 0xFFFFFFFFu);
    EXPECT_EQ(GetU32(r + 63), 0xFFFFFFFFu);
    EXPECT_EQ(it.GetState(), isUnknown);
    EXPECT_TRUE(it.IsUnavailable());  // no owner
}

TEST(CatalogItemRecord, LongerRecordsLoadTheirFirst140Bytes) {
    TCatalogItem a;
    Fill(a);
    std::vector<uint8_t> full = Save(a);
    std::vector<uint8_t> rec(full.begin() + 6, full.begin() + 146);
    rec.resize(150, 0xEE);  // ten bytes of a later version
    std::vector<uint8_t> bytes = Handmade(55, rec, 150, 7);
    TMemoryStream m(bytes);
    TCatalogItem b;
    b.LoadFromStream(m);
    EXPECT_EQ(m.Remaining(), 0);
    EXPECT_EQ(b.GetFileName(), "t0");
    EXPECT_EQ(b.GetSourceLocation(), "t6");
    TCatalogItemRecord ra = a.GetRecord(), rb = b.GetRecord();
    EXPECT_EQ(rb.Width, ra.Width);
    EXPECT_EQ(rb.OrientationKnown, 1);
    EXPECT_EQ(rb.ExposureBias, ra.ExposureBias);
}

TEST(CatalogItemRecord, Version50HasNoSourceLocationAndKnowsItsOrientation) {
    TCatalogItem a;
    Fill(a);
    TCatalogItemRecord r = a.GetRecord();
    r.OrientationKnown = 0;
    a.SetRecord(r);
    std::vector<uint8_t> full = Save(a);
    std::vector<uint8_t> rec(full.begin() + 6, full.begin() + 146);
    std::vector<uint8_t> bytes = Handmade(50, rec, 140, 6);
    bytes.push_back(0x99);  // whatever follows belongs to the next record
    TMemoryStream m(bytes);
    TCatalogItem b;
    b.SetSourceLocation("stale");
    b.LoadFromStream(m);
    EXPECT_EQ(m.Remaining(), 1);
    EXPECT_TRUE(b.IsOrientationKnown());
    EXPECT_EQ(b.GetSourceLocation(), "");
    EXPECT_EQ(b.GetIsoText(), "t5");

    // version 52 reads the source location
    std::vector<uint8_t> v52 = Handmade(52, rec, 140, 7);
    TMemoryStream m52(v52);
    TCatalogItem c;
    c.LoadFromStream(m52);
    EXPECT_EQ(c.GetSourceLocation(), "t6");
    EXPECT_TRUE(c.IsOrientationKnown());
}

TEST(CatalogItemRecord, ShorterRecordsKeepDefaultsForMissingBytes) {
    std::vector<uint8_t> rec(20, 0);
    rec[8] = 1;                  // kind JPEG
    PutU32(&rec[10], 640);       // width
    std::vector<uint8_t> bytes = Handmade(53, rec, 20, 7);
    TMemoryStream m(bytes);
    TCatalogItem b;
    b.LoadFromStream(m);
    EXPECT_EQ(b.GetKind(), 1);
    EXPECT_EQ(b.GetWidth(), 640);
    EXPECT_EQ(b.GetOrientation(), 1);
    EXPECT_EQ(b.GetCacheSlotA(), -1);
    EXPECT_EQ(b.GetStoredPosition(), -1);
}

TEST(CatalogItemRecord, BadInputRaisesReadErrors) {
    TCatalogItem a;
    Fill(a);
    std::vector<uint8_t> good = Save(a);
    // every truncation fails with the stream's read error
    for (size_t n = 0; n < good.size(); n += 7) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        TMemoryStream m(cut);
        TCatalogItem b;
        EXPECT_THROW(b.LoadFromStream(m), EReadError) << n;
    }
    // a text count running far past the stream is refused before allocating
    std::vector<uint8_t> huge(good.begin(), good.begin() + 146);
    TMemoryStream m(huge);
    m.Seek(0, soEnd);
    m.WriteU32(0x7FFFFFF0u);
    m.SetPosition(0);
    TCatalogItem b;
    EXPECT_THROW(b.LoadFromStream(m), EReadError);
    // old layouts are refused
    std::vector<uint8_t> old = Handmade(43, std::vector<uint8_t>(10), 10, 0);
    TMemoryStream mo(old);
    EXPECT_THROW(b.LoadFromStream(mo), EReadError);
    // a failed load leaves the item as it was
    EXPECT_EQ(b.GetFileName(), "");
}

TEST(CatalogItem, SettersKeepTheirRanges) {
    TCatalogItem it;
    EXPECT_TRUE(it.SetRating(3));
    EXPECT_FALSE(it.SetRating(4));
    EXPECT_FALSE(it.SetRating(-1));
    EXPECT_EQ(it.GetRating(), 3);
    EXPECT_FALSE(it.IsOrientationKnown());
    EXPECT_FALSE(it.SetOrientation(0));
    EXPECT_FALSE(it.SetOrientation(9));
    EXPECT_FALSE(it.IsOrientationKnown());
    EXPECT_TRUE(it.SetOrientation(8));
    EXPECT_TRUE(it.IsOrientationKnown());
    it.SetFlag(ifDeleteReservation, true);
    it.SetMarked(true);
    EXPECT_EQ(it.GetFlags(), 20 | ifDeleteReservation | ifMark);
    it.SetFlag(ifThumbOutOfDate, false);
    EXPECT_FALSE(it.HasFlag(ifThumbOutOfDate));
}

TEST(CatalogItem, StateIsFinalOnceDeleted) {
    TCatalogItem it;
    it.SetMissing(true);
    EXPECT_EQ(it.GetState(), isMissing);
    it.SetMissing(false);
    EXPECT_EQ(it.GetState(), isPresent);
    it.SetState(isDeleted);
    it.SetState(isPresent);
    EXPECT_EQ(it.GetState(), isDeleted);
    TSearchRec rec;
    rec.Name = "x.jpg";
    it.UpdateFromSearchRec(rec);
    EXPECT_EQ(it.GetState(), isDeleted);
}

TEST(CatalogItem, TouchedFileLosesPictureFactsButKeepsUserOrientation) {
    TCatalogItem it;
    TSearchRec rec;
    rec.Name = "a.jpg";
    rec.Size = 5000;
    rec.MTimeSec = 1700000000;
    it.UpdateFromSearchRecEx(rec, ikJpeg, true);
    it.SetSize(640, 480);
    it.SetCameraState(cdRead);
    it.SetOrientation(6);  // the user turned it
    it.SetCacheSlotB(12);
    it.SetMemoryCacheIndex(1, 2, 33);
    TCatalogItemRecord r = it.GetRecord();
    r.CacheIndices[0] = 4;
    r.CacheStates[0] = 1;
    r.Flags = static_cast<uint8_t>(r.Flags & ~(ifThumbOutOfDate | ifCameraSummaryOutOfDate));
    it.SetRecord(r);

    it.UpdateFromSearchRecEx(rec, ikJpeg, true);  // unchanged: nothing lost
    EXPECT_EQ(it.GetWidth(), 640);
    EXPECT_FALSE(it.HasFlag(ifThumbOutOfDate));

    rec.MTimeSec += 60;
    it.UpdateFromSearchRecEx(rec, ikJpeg, true);
    EXPECT_EQ(it.GetWidth(), 0);
    EXPECT_EQ(it.GetHeight(), 0);
    EXPECT_EQ(it.GetCameraState(), cdNotRead);
    EXPECT_EQ(it.GetOrientation(), 6);
    EXPECT_TRUE(it.HasFlag(ifThumbOutOfDate));
    EXPECT_TRUE(it.HasFlag(ifCameraSummaryOutOfDate));
    EXPECT_TRUE(it.HasFlag(ifMusicTagOutOfDate));
    EXPECT_EQ(it.GetCacheSlotB(), -1);
    EXPECT_EQ(it.GetMemoryCacheIndex(1, 2), -1);
    EXPECT_EQ(it.GetRecord().CacheIndices[0], -1);
    EXPECT_EQ(it.GetRecord().CacheStates[0], 0);
    EXPECT_EQ(it.GetFileTime(), UnixToLocalDateTime(1700000060.0));

    // a size change alone also invalidates; sizes above 2 GiB keep their low 32 bits
    it.SetSize(1, 1);
    rec.Size = 0x100000000LL + 5000;
    it.UpdateFromSearchRec(rec);
    EXPECT_EQ(it.GetWidth(), 0);
    EXPECT_EQ(it.GetFileSize(), 5000);
    it.SetSize(1, 1);
    it.UpdateFromSearchRec(rec);  // still differs from the stored 32-bit size
    EXPECT_EQ(it.GetWidth(), 0);
}

TEST(CatalogItem, NonImageEntriesHaveNoCameraDataAndReadOnlyFollowsTheEntry) {
    TCatalogItem it;
    TSearchRec rec;
    rec.Name = "song.mp3";
    rec.ReadOnly = true;
    it.UpdateFromSearchRecEx(rec, ikNotImage, false);
    EXPECT_EQ(it.GetCameraState(), cdNone);
    EXPECT_TRUE(it.HasFlag(ifReadOnly));
    EXPECT_FALSE(it.HasFlag(ifViewable));
    rec.ReadOnly = false;
    it.UpdateFromSearchRecEx(rec, ikNotImage, true);
    EXPECT_FALSE(it.HasFlag(ifReadOnly));
    EXPECT_TRUE(it.HasFlag(ifViewable));
}

TEST(Orientation, TransformsAreConsistent) {
    for (int o = 1; o <= 8; ++o) {
        int x = o;
        for (int i = 0; i < 4; ++i) x = OrientationRotateRight(x);
        EXPECT_EQ(x, o);
        EXPECT_EQ(OrientationRotateLeft(OrientationRotateRight(o)), o);
        EXPECT_EQ(OrientationFlipVertical(OrientationFlipVertical(o)), o);
        EXPECT_EQ(OrientationFlipHorizontal(OrientationFlipHorizontal(o)), o);
        TOrientationParts p = DecomposeOrientation(o);
        EXPECT_EQ(ComposeOrientation(p.QuarterTurns, p.MirrorVertical, p.MirrorHorizontal), o) << o;
    }
    EXPECT_EQ(OrientationRotateRight(0), OrientationRotateRight(8));
    EXPECT_EQ(OrientationRotateRight(99), 1);
    EXPECT_EQ(ComposeOrientation(5, false, false), 6);
    TCatalogItem it;
    it.RotateRight();
    EXPECT_EQ(it.GetOrientation(), 6);
    it.FlipHorizontal();
    EXPECT_EQ(it.GetOrientation(), 5);
    EXPECT_TRUE(it.IsOrientationKnown());
}

namespace {

struct TCalendarSpy : TItemCalendarLink {
    std::vector<std::string> Calls;
    void AddItem(TCatalogItem*, TDateTime d) override { Calls.push_back("add " + std::to_string(int(d))); }
    void RemoveItem(TCatalogItem*, TDateTime d) override { Calls.push_back("remove " + std::to_string(int(d))); }
    void MoveItem(TCatalogItem*, TDateTime a, TDateTime b) override {
        Calls.push_back("move " + std::to_string(int(a)) + " " + std::to_string(int(b)));
    }
};

struct CalendarLinked : ::testing::Test {
    std::shared_ptr<TCalendarSpy> spy = std::make_shared<TCalendarSpy>();
    void SetUp() override { SetItemCalendarLink(spy); }
    void TearDown() override { SetItemCalendarLink(nullptr); }
};

}  // namespace

TEST_F(CalendarLinked, DatesAndRegistrationReachTheCalendar) {
    TCatalogItem it;
    it.SetShootingDate(100);  // not registered: nothing
    it.SetInCalendar(true);
    it.SetInCalendar(true);  // unchanged
    it.SetShootingDate(200);
    it.SetShootingDate(200);
    it.SetInCalendar(false);
    it.SetInCalendar(true);
    it.SetState(isDeleted);
    it.SetState(isDeleted);
    EXPECT_EQ(spy->Calls, (std::vector<std::string>{"add 100", "move 100 200", "remove 200", "add 200", "remove 200"}));
}

TEST_F(CalendarLinked, CopyDataFromKeepsSlotAAndMovesTheCalendarEntry) {
    TCatalogItem src, dst;
    Fill(src);
    src.SetGroupNumber(9);
    dst.SetCacheSlotA(77);
    dst.SetShootingDate(44000.5);
    dst.SetInCalendar(true);
    spy->Calls.clear();
    TCatalogItemRecord r = src.GetRecord();
    r.ShootingDate = 45001;
    src.SetRecord(r);
    dst.CopyDataFrom(src);
    EXPECT_EQ(spy->Calls, (std::vector<std::string>{"move 44000 45001"}));
    EXPECT_EQ(dst.GetCacheSlotA(), 77);
    EXPECT_EQ(dst.GetComment(), "コメント");
    EXPECT_EQ(dst.GetGroupNumber(), 9);
    EXPECT_EQ(dst.GetRating(), 3);
    EXPECT_EQ(dst.GetCacheSlotB(), -1);
    EXPECT_TRUE(dst.HasFlag(ifThumbOutOfDate));
    EXPECT_TRUE(dst.HasFlag(ifCameraSummaryOutOfDate));
    EXPECT_EQ(dst.GetRecord().CacheIndices[2], -1);
    EXPECT_EQ(dst.GetFileName(), "");  // the name is not part of the copy
    dst.CopyDataFrom(dst);             // harmless
}

namespace {
struct TFakeFacts : TImageFactsProvider {
    int Calls = 0;
    bool Fail = false;
    bool Camera = true;
    std::string LastPath;
    bool ReadImageFacts(const std::string& path, uint8_t, TImageFacts& out) override {
        ++Calls;
        LastPath = path;
        if (Fail) return false;
        out.PixelFormat = 6;
        out.Width = 320;
        out.Height = 240;
        out.HasCameraData = Camera;
        out.Orientation = 8;
        out.ShootingDate = 40000;
        return true;
    }
    bool GetExifTextLines(const std::string&, uint8_t, const std::vector<std::string>&, std::vector<std::string>& lines) override {
        lines.push_back("Model : X");
        return true;
    }
};
}  // namespace

TEST(CatalogItem, ReadImageInfoThroughTheRegisteredProvider) {
    TCatalogItem it;
    it.SetFileNameRaw("p.jpg");
    // nothing registered: no camera data, no crash
    SetImageFactsProvider(nullptr);
    it.ReadImageInfo();
    EXPECT_EQ(it.GetCameraState(), cdNone);
    std::vector<std::string> lines;
    EXPECT_FALSE(it.GetExifTextLines({}, lines));

    auto facts = std::make_shared<TFakeFacts>();
    SetImageFactsProvider(facts);
    facts->Fail = true;
    it.ReadImageInfo();
    EXPECT_EQ(it.GetWidth(), 0);
    facts->Fail = false;
    EXPECT_EQ(it.GetPixelCount(), 320 * 240);
    EXPECT_EQ(it.GetCameraState(), cdRead);
    EXPECT_EQ(it.GetOrientation(), 8);
    EXPECT_EQ(it.GetShootingDate(), 40000);
    EXPECT_EQ(facts->LastPath, "p.jpg");
    EXPECT_EQ(it.GetPixelCount(), 320 * 240);
    EXPECT_EQ(facts->Calls, 2);  // the size is known now

    // a user orientation wins over the camera's
    TCatalogItem turned;
    turned.SetOrientation(3);
    turned.ReadImageInfo();
    EXPECT_EQ(turned.GetOrientation(), 3);
    facts->Camera = false;
    TCatalogItem plain;
    plain.ReadImageInfo();
    EXPECT_EQ(plain.GetCameraState(), cdNone);
    // missing and deleted items are not read
    TCatalogItem gone;
    gone.SetState(isMissing);
    int before = facts->Calls;
    gone.ReadImageInfo();
    EXPECT_EQ(facts->Calls, before);
    EXPECT_TRUE(it.GetExifTextLines({}, lines));
    SetImageFactsProvider(nullptr);
}

TEST(CatalogItem, InfoTextsAndAlbums) {
    fv::TFolder owner("/photos");
    TCatalogItem* it = new TCatalogItem();
    it->SetFileNameRaw("IMG_1.JPG");
    owner.AddItem(it);
    it->SetSize(12000, 800);
    it->SetFileSize(1234567);
    it->SetPixelFormat(6);
    it->SetComment("c");
    EXPECT_EQ(it->GetInfoText(ikiFileName), "IMG_1.JPG");
    EXPECT_EQ(it->GetInfoText(ikiExtension), ".JPG");
    EXPECT_EQ(it->GetInfoText(ikiImageSize), "12,000 x 800");
    EXPECT_EQ(it->GetInfoText(ikiPixelFormat), "24bit");
    EXPECT_EQ(it->GetInfoText(ikiFileSize), "1,234,567");
    EXPECT_EQ(it->GetInfoText(ikiComment), "c");
    EXPECT_EQ(it->GetInfoText(ikiFolder), "/photos/");
    EXPECT_EQ(it->GetInfoText(42), "");
    EXPECT_EQ(it->GetFullPath(), "/photos/IMG_1.JPG");
    EXPECT_EQ(it->GetNameWithoutExtension(), "IMG_1");
    EXPECT_EQ(FormatThousands(-1000), "-1,000");

    fvtest::TFakeFolder tray(fkAlbum), search(fkSearchAlbum);
    struct TTyped : fvtest::TFakeFolder {
        int Type;
        TTyped(int t) : TFakeFolder(fkAlbum), Type(t) {}
        int GetAlbumType() const override { return Type; }
    } a0(0), a5(5), a15(15);
    EXPECT_TRUE(it->AddAlbum(&a0));
    EXPECT_FALSE(it->AddAlbum(&a0));
    EXPECT_TRUE(it->AddAlbum(&a5));
    EXPECT_TRUE(it->AddAlbum(&a15));
    EXPECT_TRUE(it->AddAlbum(&tray));  // type 13
    EXPECT_EQ(it->CountAlbumsOfTypes(0x0021), 2);
    EXPECT_EQ(it->CountAlbumsOfTypes(0xA000), 2);
    it->RemoveAlbum(&a5);
    EXPECT_EQ(it->CountAlbumsOfTypes(0xFFFF), 3);
}

// Items come from their own pool: a folder's items go back to it when they are freed, and an
// item of a derived kind (larger) still works through the heap.
TEST(CatalogItem, ItemsComeFromTheirPoolAndGoBackToIt) {
    size_t before = CatalogItemPoolBytes();
    {
        std::vector<std::unique_ptr<TCatalogItem>> items;
        for (int i = 0; i < 3000; ++i) {  // more than one 2 MiB run
            items.push_back(std::make_unique<TCatalogItem>());
            items.back()->SetFileNameRaw("IMG_" + std::to_string(i) + ".JPG");
        }
        EXPECT_GE(CatalogItemPoolBytes() - before, 3000 * sizeof(TCatalogItem));
        for (int i = 0; i < 3000; i += 499) EXPECT_EQ(items[static_cast<size_t>(i)]->GetFileName(), "IMG_" + std::to_string(i) + ".JPG");
    }
    EXPECT_EQ(CatalogItemPoolBytes(), before);

    struct TTaggedItem : TCatalogItem {
        char Tag[64] = "derived";
    };
    auto derived = std::make_unique<TTaggedItem>();
    EXPECT_EQ(CatalogItemPoolBytes(), before);
    EXPECT_STREQ(derived->Tag, "derived");
    std::unique_ptr<TCatalogItem> asBase = std::move(derived);
    asBase.reset();  // the sized delete sees the derived size and hands it to the heap
    EXPECT_EQ(CatalogItemPoolBytes(), before);
}
