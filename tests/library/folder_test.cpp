#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include <pthread.h>

#include "core/log.h"
#include "library/export_info.h"
#include "library/folder.h"
#include "library_test_util.h"
#include "platform/collate.h"
#include "platform/datetime.h"
#include "platform/file_sys.h"

using namespace fv;
using fvtest::WriteFile;
namespace fs = std::filesystem;

namespace {

// in whole 100 ns ticks
TDateTime LocalModificationTime(const std::string& path) {
    int64_t sec = 0;
    int32_t nsec = 0;
    EXPECT_EQ(ReadModificationTime(path, sec, nsec), TFileTimeResult::Ok);
    return UnixToLocalDateTime(static_cast<double>(sec) + static_cast<double>(nsec / 100) / 1e7);
}

struct DiskFolder : fvtest::TempDirTest {
    void SetUp() override {
        TempDirTest::SetUp();
        SetExtraExtensions(".MP3");
    }
    void TearDown() override {
        SetExtraExtensions("");
        TempDirTest::TearDown();
    }
    // a root for the temporary folder's file system, and the folder itself below it
    std::unique_ptr<TFolderRoot> MakeRoot() {
        TDriveInfoRec info;
        fv::GetDriveInfo(Path(), info);
        auto root = std::make_unique<TFolderRoot>(info);
        return root;
    }
    TFolder* Reach(TFolder* root) {
        TFolder* f = root;
        fs::path rel = fs::relative(dir, root->GetFullName());
        for (const auto& part : rel) f = f->AddSubFolder(part.string());
        return f;
    }
    static std::vector<std::string> Names(const TFolder& f) {
        TItemList items;
        f.GetItems(items);
        std::vector<std::string> out;
        for (auto* it : items) out.push_back(it->GetFileName());
        return out;
    }
    static void SetMTime(const fs::path& p, int64_t unixSec) {
        fs::last_write_time(p, fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(unixSec))));
    }
};

struct TEventLog {
    std::vector<std::pair<TCustomFolder*, int>> Events;
    void On(TCustomFolder* f, int code, intptr_t) { Events.emplace_back(f, code); }
};

}  // namespace

TEST_F(DiskFolder, EnumeratesRegisteredFilesInNameOrder) {
    WriteFile(dir / "b.JPG", "12345");
    WriteFile(dir / "a.jpg", "1");
    WriteFile(dir / "C.bmp", "bmp");
    WriteFile(dir / "song.mp3", "id3");
    WriteFile(dir / "notes.txt", "x");
    WriteFile(dir / ".hidden.jpg", "h");
    WriteFile(dir / "shot.CR2", "raw");
    fs::create_directories(dir / "sub.jpg");  // a directory with a picture's name is no file
    TFolder f(Path());
    TItemList out;
    f.SearchFiles(&out);
    EXPECT_EQ(out.size(), 6u);
    EXPECT_EQ(Names(f), (std::vector<std::string>{".hidden.jpg", "a.jpg", "b.JPG", "C.bmp", "shot.CR2", "song.mp3"}));
    TCatalogItem* b = f.FindItem("b.JPG");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetKind(), ikJpeg);
    EXPECT_EQ(b->GetFileSize(), 5);
    EXPECT_EQ(b->GetState(), isPresent);
    EXPECT_TRUE(b->HasFlag(ifViewable));
    EXPECT_EQ(b->GetOwner(), &f);
    EXPECT_EQ(b->GetFullPath(), Path("b.JPG"));
    // the file's modification time in local time
    EXPECT_EQ(b->GetFileTime(), LocalModificationTime(Path("b.JPG")));
    EXPECT_EQ(f.FindItem("b.jpg"), nullptr);  // lookups are exact
    TCatalogItem* song = f.FindItem("song.mp3");
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->GetKind(), ikNotImage);
    EXPECT_EQ(song->GetCameraState(), cdNone);
    EXPECT_EQ(f.GetItemCountOfKinds(1u << ikJpeg), 3);
    EXPECT_EQ(f.GetItemCount(), 6);
}

TEST_F(DiskFolder, RescanFollowsAddsTouchesDeletesAndRenames) {
    WriteFile(dir / "keep.jpg", "k");
    WriteFile(dir / "touch.jpg", "t");
    WriteFile(dir / "gone.jpg", "g");
    WriteFile(dir / "old.jpg", "o");
    SetMTime(dir / "touch.jpg", 1600000000);
    TFolder f(Path());
    f.SearchFiles(nullptr);
    TCatalogItem* keep = f.FindItem("keep.jpg");
    TCatalogItem* touch = f.FindItem("touch.jpg");
    TCatalogItem* gone = f.FindItem("gone.jpg");
    TCatalogItem* old = f.FindItem("old.jpg");
    keep->SetSize(10, 10);
    keep->SetComment("mine");
    touch->SetSize(20, 20);
    touch->SetOrientation(6);

    fs::remove(dir / "gone.jpg");
    fs::rename(dir / "old.jpg", dir / "new.jpg");
    WriteFile(dir / "added.jpg", "a");
    SetMTime(dir / "touch.jpg", 1600000100);

    TItemList out;
    f.SearchFiles(&out);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"added.jpg", "keep.jpg", "new.jpg", "touch.jpg"}));
    EXPECT_EQ(out.size(), 4u);
    EXPECT_EQ(f.FindItem("keep.jpg"), keep);  // the same objects carry on
    EXPECT_EQ(keep->GetWidth(), 10);
    EXPECT_EQ(keep->GetComment(), "mine");
    EXPECT_EQ(touch->GetWidth(), 0);
    EXPECT_EQ(touch->GetOrientation(), 6);
    EXPECT_EQ(gone->GetState(), isDeleted);
    EXPECT_EQ(old->GetState(), isDeleted);
    TItemList removed;
    f.GetRemovedItems(removed);
    EXPECT_EQ(std::set<TCatalogItem*>(removed.begin(), removed.end()), (std::set<TCatalogItem*>{gone, old}));
    EXPECT_EQ(f.FindItem("new.jpg")->GetState(), isPresent);
    // a removed item still knows where it was
    EXPECT_EQ(gone->GetOwner(), &f);
}

TEST_F(DiskFolder, TreeRescanAfterASubfolderIsRemoved) {
    WriteFile(dir / "2024" / "jan" / "a.jpg", "a");
    WriteFile(dir / "2024" / "jan" / "b.jpg", "b");
    WriteFile(dir / "2024" / "feb" / "c.jpg", "c");
    WriteFile(dir / "2024" / "top.jpg", "t");
    auto root = MakeRoot();
    TFolder* year = Reach(root.get())->AddSubFolder("2024");
    // walk the tree the way the listing does: files, then subfolders, then down
    std::function<void(TFolder*)> walk = [&](TFolder* f) {
        f->SearchFiles(nullptr);
        TFolderList subs;
        f->ScanSubFolders(&subs);
        for (auto* s : subs) walk(static_cast<TFolder*>(s));
    };
    walk(year);
    TFolder* jan = year->FindSubFolder("jan");
    TFolder* feb = year->FindSubFolder("feb");
    ASSERT_TRUE(jan && feb);
    EXPECT_EQ(year->GetTotalItemCount(), 4);
    TCatalogItem* a = jan->FindItem("a.jpg");

    fs::remove_all(dir / "2024" / "jan");
    WriteFile(dir / "2024" / "feb" / "d.jpg", "d");
    walk(year);
    EXPECT_TRUE(jan->IsOffline());
    EXPECT_FALSE(feb->IsOffline());
    EXPECT_EQ(Names(*feb), (std::vector<std::string>{"c.jpg", "d.jpg"}));

    root->CheckExists(true, true);
    EXPECT_TRUE(jan->IsOffline());
    EXPECT_EQ(a->GetState(), isMissing);
    EXPECT_TRUE(a->IsUnavailable());
    EXPECT_FALSE(feb->FindItem("d.jpg")->IsUnavailable());

    // enumerating the vanished folder deletes its items; a purge then drops the folder
    jan->SearchFiles(nullptr);
    EXPECT_EQ(a->GetState(), isDeleted);
    EXPECT_EQ(jan->GetRemovedItemCount(), 2);
    EXPECT_TRUE(year->Purge(true, true));
    EXPECT_TRUE(jan->IsRemoved());
    EXPECT_EQ(year->FindSubFolder("jan"), nullptr);
    EXPECT_EQ(year->GetRemovedSubFolderCount(), 1);
    EXPECT_EQ(year->GetTotalItemCount(), 3);
    // a removed folder and its items stay valid objects until the tree is freed
    EXPECT_EQ(a->GetOwner(), jan);
    EXPECT_EQ(jan->GetFullName(), Path("2024/jan"));
}

TEST_F(DiskFolder, ScanningOneKindLeavesOtherKindsAlone) {
    WriteFile(dir / "a.jpg", "a");
    WriteFile(dir / "b.bmp", "b");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    fs::remove(dir / "a.jpg");
    fs::remove(dir / "b.bmp");
    f.SearchFilesEx(1u << ikJpeg, nullptr);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"b.bmp"}));
    EXPECT_EQ(f.FindItem("b.bmp")->GetState(), isPresent);
    f.SearchFilesEx(0, nullptr);  // an empty set does nothing
    EXPECT_EQ(f.GetItemCount(), 1);
}

TEST_F(DiskFolder, NamesAreKeptByteForByte) {
    std::string latin1 = "caf\xe9.jpg";  // not UTF-8
    std::string twin1 = "Photo.jpg", twin2 = "photo.jpg";
    WriteFile(dir / latin1, "x");
    WriteFile(dir / twin1, "1");
    WriteFile(dir / twin2, "22");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    ASSERT_EQ(f.GetItemCount(), 3);
    ASSERT_NE(f.FindItem(latin1), nullptr);
    EXPECT_EQ(f.FindItem(latin1)->GetFileName(), latin1);
    EXPECT_EQ(f.FindItem(twin1)->GetFileSize(), 1);
    EXPECT_EQ(f.FindItem(twin2)->GetFileSize(), 2);
    // a rescan matches every one of them again
    f.SearchFiles(nullptr);
    EXPECT_EQ(f.GetItemCount(), 3);
    EXPECT_EQ(f.GetRemovedItemCount(), 0);
    // and they survive saving and loading
    TMemoryStream file, buffer;
    int32_t counter = 1;
    f.SaveToStream(file, buffer, counter);
    FlushFolderSaveBuffer(file, buffer);
    file.SetPosition(0);
    TFolder g;
    g.LoadFromStream(file);
    EXPECT_NE(g.FindItem(latin1), nullptr);
    EXPECT_NE(g.FindItem(twin2), nullptr);
}

TEST_F(DiskFolder, VanishedDirectoryDeletesItsItemsAndSubfoldersGoOffline) {
    fs::create_directories(dir / "pics" / "inner");
    WriteFile(dir / "pics" / "a.jpg", "a");
    TFolder f(Path("pics"));
    f.SearchFiles(nullptr);
    f.ScanSubFoldersQuiet();
    TFolder* inner = f.FindSubFolder("inner");
    ASSERT_NE(inner, nullptr);
    EXPECT_FALSE(inner->IsOffline());
    fs::remove_all(dir / "pics");
    EXPECT_NO_THROW(f.SearchFiles(nullptr));
    EXPECT_EQ(f.GetItemCount(), 0);
    EXPECT_EQ(f.GetRemovedItemCount(), 1);
    EXPECT_NO_THROW(f.ScanSubFoldersQuiet());
    EXPECT_TRUE(inner->IsOffline());
}

TEST_F(DiskFolder, UnreadableDirectoryKeepsItsItemsMissing) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    WriteFile(dir / "a.jpg", "a");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    TCatalogItem* a = f.FindItem("a.jpg");
    a->SetComment("precious");
    fs::permissions(dir, fs::perms::none);
    EXPECT_NO_THROW(f.SearchFiles(nullptr));
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(f.GetItemCount(), 1);
    EXPECT_EQ(a->GetState(), isMissing);
    EXPECT_TRUE(f.IsOffline());
}

TEST_F(DiskFolder, DirectoryThatCannotBeOpenedKeepsItsItemsMissing) {
    // a symbolic link loop cannot be opened (ELOOP), also not by root
    WriteFile(dir / "pics" / "a.jpg", "a");
    TFolder f(Path("pics"));
    f.SearchFiles(nullptr);
    f.FindItem("a.jpg")->SetRating(3);
    fs::rename(dir / "pics", dir / "elsewhere");
    fs::create_symlink("pics", dir / "pics");
    EXPECT_NO_THROW(f.SearchFiles(nullptr));
    ASSERT_EQ(f.GetItemCount(), 1);
    EXPECT_EQ(f.FindItem("a.jpg")->GetState(), isMissing);
    EXPECT_EQ(f.FindItem("a.jpg")->GetRating(), 3);
    EXPECT_TRUE(f.IsOffline());
    EXPECT_NO_THROW(f.ScanSubFoldersQuiet());
}

TEST_F(DiskFolder, SubfolderScanAddsSortsAndTakesOffline) {
    fs::create_directories(dir / "b");
    fs::create_directories(dir / "A");
    fs::create_directories(dir / "c");
    WriteFile(dir / "file.jpg", "f");
    TEventLog log;
    TFolder f(Path());
    f.SetUpdateEvent(MakeFolderUpdateEvent<TEventLog, &TEventLog::On>(&log));
    TFolderList out;
    f.ScanSubFolders(&out);
    EXPECT_EQ(out.size(), 3u);
    TFolderList subs;
    f.GetSubFolders(subs);
    ASSERT_EQ(subs.size(), 3u);
    EXPECT_EQ(subs[0]->GetCaption(), "A");
    EXPECT_EQ(subs[1]->GetFullName(), Path("b"));
    EXPECT_EQ(log.Events.size(), 3u);  // event 0 for each new folder
    for (auto& e : log.Events) EXPECT_EQ(e.second, feCreated);
    EXPECT_TRUE(static_cast<TFolder*>(subs[2])->IsChildOf(&f));

    fs::remove_all(dir / "b");
    f.ScanSubFoldersQuiet();
    EXPECT_TRUE(static_cast<TFolder*>(subs[1])->IsOffline());
    EXPECT_FALSE(static_cast<TFolder*>(subs[0])->IsOffline());
    fs::create_directories(dir / "b");
    f.ScanSubFoldersQuiet();
    EXPECT_FALSE(static_cast<TFolder*>(subs[1])->IsOffline());
    EXPECT_EQ(f.FindSubFolder("b"), subs[1]);
}

TEST_F(DiskFolder, CheckExistsComparesTheRecordedVolume) {
    WriteFile(dir / "a.jpg", "a");
    WriteFile(dir / "b.jpg", "b");
    auto root = MakeRoot();
    TFolder* f = Reach(root.get());
    EXPECT_EQ(f->GetFullName(), Path());
    f->SearchFiles(nullptr);
    fs::remove(dir / "b.jpg");
    root->CheckExists(true, true);
    EXPECT_FALSE(f->IsOffline());
    EXPECT_EQ(f->FindItem("a.jpg")->GetState(), isPresent);
    EXPECT_EQ(f->FindItem("b.jpg")->GetState(), isMissing);
    EXPECT_FALSE(f->FindItem("a.jpg")->IsUnavailable());
    EXPECT_TRUE(f->FindItem("b.jpg")->IsUnavailable());

    // the same mount point now holds another volume: everything below goes offline
    TDriveInfoRec other;
    root->GetDriveInfo(other);
    other.SerialNumber ^= 0x1234;
    TFolderRoot stranger(other);
    TFolder* g = Reach(&stranger);
    g->SearchFiles(nullptr);
    stranger.CheckExists(true, true);
    EXPECT_TRUE(stranger.IsOffline());
    EXPECT_TRUE(g->IsOffline());
    EXPECT_EQ(g->FindItem("a.jpg")->GetState(), isMissing);
    EXPECT_TRUE(g->FindItem("a.jpg")->IsUnavailable());
    EXPECT_NE(CompareRootIdentity(*root, stranger), 0);
    EXPECT_EQ(CompareRootIdentity(*root, *root), 0);
    EXPECT_EQ(stranger.GetCaption(), other.VolumeName + " (" + other.Drive + ")");
    EXPECT_EQ(g->GetVolumeSerial(), other.SerialNumber);
    EXPECT_EQ(g->GetDriveName(), other.Drive);

    // a folder that is gone is offline and its items missing
    fs::remove_all(dir);
    root->CheckExists(true, true);
    EXPECT_TRUE(f->IsOffline());
    EXPECT_EQ(f->FindItem("a.jpg")->GetState(), isMissing);
}

TEST_F(DiskFolder, RenameMoveAndTheirEvents) {
    TEventLog log;
    TFolder root("/r");
    root.SetUpdateEvent(MakeFolderUpdateEvent<TEventLog, &TEventLog::On>(&log));
    TFolder* b = root.AddSubFolder("b");
    TFolder* c = root.AddSubFolder("c");
    TFolder* deep = b->AddSubFolder("deep");
    EXPECT_EQ(root.AddSubFolder("b"), b);
    log.Events.clear();

    b->Rename("b");
    EXPECT_TRUE(log.Events.empty());
    b->Rename("B");
    ASSERT_EQ(log.Events.size(), 1u);
    EXPECT_EQ(log.Events[0].second, feNameChanged);
    EXPECT_EQ(deep->GetFullName(), "/r/B/deep");
    c->Rename("a");
    TFolderList subs;
    root.GetSubFolders(subs);
    EXPECT_EQ(subs, (TFolderList{c, b}));  // re-sorted

    EXPECT_FALSE(b->CanMoveTo(deep));
    EXPECT_FALSE(b->CanMoveTo(b));
    EXPECT_FALSE(b->CanMoveTo(&root));
    EXPECT_FALSE(b->CanMoveTo(nullptr));
    EXPECT_TRUE(deep->CanMoveTo(c));

    log.Events.clear();
    deep->SetParent(c);
    ASSERT_EQ(log.Events.size(), 2u);
    EXPECT_EQ(log.Events[0].second, feParentChanging);
    EXPECT_EQ(log.Events[1].second, feParentChanged);
    EXPECT_EQ(deep->GetFullName(), "/r/a/deep");
    EXPECT_FALSE(b->HasSubFolders());
    EXPECT_EQ(c->FindSubFolder("deep"), deep);
    log.Events.clear();
    deep->SetParent(c);
    EXPECT_TRUE(log.Events.empty());
}

TEST_F(DiskFolder, ItemRenameAndOwnerChangeKeepListsSorted) {
    TFolder a("/a"), b("/b");
    bool created = false;
    TCatalogItem* x = a.FindOrCreateItem("x.jpg", &created);
    EXPECT_TRUE(created);
    a.FindOrCreateItem("m.jpg", &created);
    EXPECT_EQ(a.FindOrCreateItem("x.jpg", &created), x);
    EXPECT_FALSE(created);
    x->SetFileName("a.jpg");
    EXPECT_EQ(Names(a), (std::vector<std::string>{"a.jpg", "m.jpg"}));
    EXPECT_EQ(a.FindItem("a.jpg"), x);
    EXPECT_EQ(a.FindItem("x.jpg"), nullptr);
    x->SetStoredPosition(4);
    x->SetOwner(&b, true);
    EXPECT_EQ(Names(a), (std::vector<std::string>{"m.jpg"}));
    EXPECT_EQ(b.FindItem("a.jpg"), x);
    EXPECT_EQ(x->GetStoredPosition(), -1);
    EXPECT_EQ(x->GetFullPath(), "/b/a.jpg");
    // an equal name leaves the list unchanged
    TCatalogItem* dup = new TCatalogItem();
    dup->SetFileNameRaw("a.jpg");
    EXPECT_FALSE(b.AddItem(dup));
    EXPECT_EQ(b.GetItemCount(), 1);
    delete dup;
    // moving onto a folder that holds the name already leaves the item with its owner
    TCatalogItem* other = a.FindOrCreateItem("a.jpg", nullptr);
    other->SetOwner(&b, false);
    EXPECT_EQ(other->GetOwner(), &a);
    EXPECT_EQ(a.FindItem("a.jpg"), other);
    EXPECT_EQ(b.FindItem("a.jpg"), x);
}

TEST_F(DiskFolder, PurgeAndRemove) {
    TEventLog log;
    TFolder root("/r");
    root.SetUpdateEvent(MakeFolderUpdateEvent<TEventLog, &TEventLog::On>(&log));
    TFolder* empty = root.AddSubFolder("empty");
    TFolder* kept = root.AddSubFolder("kept");
    TFolder* checked = root.AddSubFolder("checked");
    TFolder* full = root.AddSubFolder("full");
    kept->SetKeep(true);
    checked->SetCheckState(csExcluded);
    TCatalogItem* dead = full->FindOrCreateItem("dead.jpg", nullptr);
    TCatalogItem* missing = full->FindOrCreateItem("missing.jpg", nullptr);
    full->FindOrCreateItem("alive.jpg", nullptr)->SetState(isPresent);
    dead->SetState(isDeleted);
    missing->SetState(isMissing);

    EXPECT_TRUE(root.Purge(true, true));
    TFolderList subs;
    root.GetSubFolders(subs);
    EXPECT_EQ(subs, (TFolderList{checked, full, kept}));
    EXPECT_EQ(root.GetRemovedSubFolderCount(), 1);
    EXPECT_TRUE(empty->IsRemoved());
    EXPECT_FALSE(full->IsRemoved());
    EXPECT_EQ(Names(*full), (std::vector<std::string>{"alive.jpg", "missing.jpg"}));

    // the deletion variant also drops missing items and ignores the check state
    EXPECT_TRUE(root.PurgeForDeletion(true, true));
    EXPECT_EQ(Names(*full), (std::vector<std::string>{"alive.jpg"}));
    EXPECT_EQ(missing->GetState(), isDeleted);
    EXPECT_TRUE(checked->IsRemoved());

    TFolder* inner = full->AddSubFolder("inner");
    log.Events.clear();
    full->Remove();
    EXPECT_TRUE(full->IsRemoved());
    EXPECT_TRUE(inner->IsRemoved());
    EXPECT_EQ(full->GetItemCount(), 0);
    EXPECT_EQ(log.Events.back(), std::make_pair(static_cast<TCustomFolder*>(full), int(feRemoved)));

    TFolderRoot r;
    EXPECT_FALSE(r.IsRemoved());
    r.Remove();
    EXPECT_TRUE(r.IsRemoved());
}

TEST_F(DiskFolder, TreeRoundTripsThroughTheFolderRecord) {
    TDriveInfoRec info;
    info.Drive = "/media/CARD";
    info.DriveType = DRIVE_REMOVABLE;
    info.SerialNumber = 0xCAFEBABE;
    info.VolumeName = "CARD";
    TFolderRoot root(info);
    TFolder* dcim = root.AddSubFolder("DCIM");
    TFolder* sub = dcim->AddSubFolder("100CANON");
    dcim->SetCheckState(csRegistered);
    sub->SetKeep(true);
    for (int i = 0; i < 3; ++i) sub->FindOrCreateItem("IMG_" + std::to_string(i) + ".JPG", nullptr)->SetComment("c" + std::to_string(i));
    root.FindOrCreateItem("top.jpg", nullptr);

    TMemoryStream file, buffer;
    int32_t counter = 1;
    root.SaveToStream(file, buffer, counter);
    FlushFolderSaveBuffer(file, buffer);
    EXPECT_EQ(counter, 5);
    EXPECT_EQ(root.FindItem("top.jpg")->GetItemNumber(), 1);
    EXPECT_EQ(sub->FindItem("IMG_2.JPG")->GetItemNumber(), 4);
    // root prefix: version 10, serial, type, volume name, then the name of the folder
    const auto& d = file.Data();
    EXPECT_EQ(GetU32(&d[0]), 10u);
    EXPECT_EQ(GetU32(&d[4]), 0xCAFEBABEu);
    EXPECT_EQ(GetU32(&d[8]), static_cast<uint32_t>(DRIVE_REMOVABLE));

    file.SetPosition(0);
    TFolderRoot back;
    back.LoadFromStream(file);
    EXPECT_EQ(file.Remaining(), 0);
    EXPECT_EQ(back.GetCaption(), "CARD (/media/CARD)");
    EXPECT_EQ(back.GetVolumeSerial(), 0xCAFEBABEu);
    TFolder* bsub = back.FindSubFolder("DCIM")->FindSubFolder("100CANON");
    ASSERT_NE(bsub, nullptr);
    EXPECT_EQ(bsub->GetFullName(), "/media/CARD/DCIM/100CANON");
    EXPECT_TRUE(bsub->GetKeep());
    EXPECT_EQ(back.FindSubFolder("DCIM")->GetCheckState(), csRegistered);
    EXPECT_EQ(bsub->FindItem("IMG_1.JPG")->GetComment(), "c1");
    EXPECT_EQ(bsub->FindItem("IMG_1.JPG")->GetOwner(), bsub);
    EXPECT_EQ(bsub->GetDriveType(), DRIVE_REMOVABLE);

    // saving again gives the same bytes
    TMemoryStream file2, buffer2;
    counter = 1;
    back.SaveToStream(file2, buffer2, counter);
    FlushFolderSaveBuffer(file2, buffer2);
    EXPECT_EQ(file2.Data(), file.Data());
}

TEST_F(DiskFolder, DamagedFolderDataFailsCleanly) {
    TDriveInfoRec info;
    info.Drive = "/";
    TFolderRoot root(info);
    TFolder* a = root.AddSubFolder("a");
    a->AddSubFolder("b")->FindOrCreateItem("x.jpg", nullptr);
    a->FindOrCreateItem("y.jpg", nullptr);
    TMemoryStream file, buffer;
    int32_t counter = 1;
    root.SaveToStream(file, buffer, counter);
    FlushFolderSaveBuffer(file, buffer);
    const std::vector<uint8_t> good = file.Data();

    for (size_t n = 0; n < good.size(); ++n) {
        TMemoryStream cut(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
        TFolderRoot r;
        EXPECT_THROW(r.LoadFromStream(cut), Exception) << n;
    }
    // another root version stops loading
    std::vector<uint8_t> v = good;
    v[0] = 11;
    TMemoryStream mv(v);
    TFolderRoot r1;
    EXPECT_THROW(r1.LoadFromStream(mv), EFolderLoadAbort);
    // absurd counts are refused before anything is built
    TMemoryStream absurd;
    absurd.WriteText("x");
    absurd.WriteU8(0);
    absurd.WriteU32(0xFFFFFFFFu);
    absurd.SetPosition(0);
    TFolder f;
    EXPECT_THROW(f.LoadFromStream(absurd), EReadError);
    EXPECT_EQ(f.GetItemCount(), 0);
    TMemoryStream subs;
    subs.WriteText("x");
    subs.WriteU8(0);
    subs.WriteU32(0);
    subs.WriteU32(0x40000000u);
    subs.SetPosition(0);
    TFolder g;
    EXPECT_THROW(g.LoadFromStream(subs), EReadError);
}

namespace {

// Runs fn on a thread with a small stack: code that recurses once per level of stored
// data overflows it, code that keeps its own stack does not.
void RunOnSmallStack(const std::function<void()>& fn, size_t stackBytes = 256 * 1024) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t t;
    auto* call = new std::function<void()>(fn);
    ASSERT_EQ(pthread_create(
                  &t, &attr,
                  [](void* p) -> void* {
                      std::unique_ptr<std::function<void()>> f(static_cast<std::function<void()>*>(p));
                      (*f)();
                      return nullptr;
                  },
                  call),
              0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
}

// A chain of folder records nested `depth` levels below a plain folder record.
std::vector<uint8_t> NestedFolderBody(int depth) {
    TMemoryStream m;
    for (int i = 0; i <= depth; ++i) {
        m.WriteText("d");
        m.WriteU8(0);
        m.WriteU32(0);                    // no items
        m.WriteU32(i < depth ? 1u : 0u);  // one subfolder, except the last
    }
    return m.Data();
}

// What must hold of any loaded tree: parents, full names, owners, sorted lists, counts,
// and that it saves and loads again to the same bytes.
void ExpectConsistentTree(TFolder& top) {
    std::vector<TFolder*> todo{&top};
    int items = 0;
    while (!todo.empty()) {
        TFolder* f = todo.back();
        todo.pop_back();
        TItemList list;
        f->GetItems(list);
        items += static_cast<int>(list.size());
        for (TCatalogItem* it : list) {
            ASSERT_EQ(it->GetOwner(), f);
            ASSERT_NE(f->FindItem(it->GetFileName()), nullptr);
        }
        TFolderList subs;
        f->GetSubFolders(subs);
        for (size_t i = 0; i < subs.size(); ++i) {
            auto* sub = static_cast<TFolder*>(subs[i]);
            ASSERT_EQ(sub->GetParentFolder(), f);
            ASSERT_EQ(sub->GetFullName(), JoinFolderPath(f->GetFullName(), sub->GetName()));
            if (i > 0) {
                ASSERT_LE(CompareNameOrder(static_cast<TFolder*>(subs[i - 1])->GetName(), sub->GetName()), 0);
            }
            todo.push_back(sub);
        }
    }
    ASSERT_EQ(top.GetTotalItemCount(), items);
    TMemoryStream file, buffer;
    int32_t counter = 0;
    top.SaveToStream(file, buffer, counter);
    FlushFolderSaveBuffer(file, buffer);
    ASSERT_EQ(counter, items);
    file.SetPosition(0);
    TFolderRoot again;
    again.LoadFromStream(file);
    TMemoryStream file2, buffer2;
    counter = 0;
    again.SaveToStream(file2, buffer2, counter);
    FlushFolderSaveBuffer(file2, buffer2);
    ASSERT_EQ(file2.Data(), file.Data());
}

}  // namespace

TEST_F(DiskFolder, RandomlyDamagedFolderDataLoadsConsistentlyOrFailsCleanly) {
    // trees of several nesting depths, each damaged at random: the load raises one of our
    // exceptions or gives a tree that is consistent in every respect
    std::mt19937 rng(2024);
    for (int depth : {1, 4, 40, 400}) {
        TDriveInfoRec info;
        info.Drive = "/";
        TFolderRoot root(info);
        TFolder* f = &root;
        for (int level = 0; level < depth; ++level) {
            f->FindOrCreateItem("y" + std::to_string(level) + ".jpg", nullptr)->SetComment("c");
            if (level % 3 == 0) f->AddSubFolder("side" + std::to_string(level))->FindOrCreateItem("s.jpg", nullptr);
            f = f->AddSubFolder("n" + std::to_string(level));
        }
        f->FindOrCreateItem("x.jpg", nullptr);
        TMemoryStream file, buffer;
        int32_t counter = 0;
        root.SaveToStream(file, buffer, counter);
        FlushFolderSaveBuffer(file, buffer);
        const std::vector<uint8_t> good = file.Data();
        int loaded = 0, failed = 0;
        for (int round = 0; round < (depth > 100 ? 300 : 1500); ++round) {
            std::vector<uint8_t> bad = good;
            int flips = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
            if (rng() % 4 == 0) bad.resize(rng() % bad.size());
            TMemoryStream m(bad);
            TFolderRoot r;
            bool ok = true;
            try {
                r.LoadFromStream(m);
            } catch (const Exception&) {
                ok = false;
            }
            if (!ok) {
                ++failed;
                continue;
            }
            ++loaded;
            ExpectConsistentTree(r);
            if (HasFatalFailure()) FAIL() << "depth " << depth << " round " << round;
        }
        EXPECT_GT(failed, 0) << depth;
        EXPECT_GT(loaded, 0) << depth;
    }
}

TEST_F(DiskFolder, NestingDeeperThanAnyPathIsALoadErrorNotAStackOverflow) {
    // 70,000 levels in under 1 MB: refused with the load error, on a small stack
    std::vector<uint8_t> deep = NestedFolderBody(70000);
    ASSERT_LT(deep.size(), 1u << 20);
    bool aborted = false;
    RunOnSmallStack([&] {
        TMemoryStream m(deep);
        TFolder f;
        try {
            f.LoadFromStream(m);
        } catch (const EFolderLoadAbort&) {
            aborted = true;
        }
    });
    EXPECT_TRUE(aborted);
    // the deepest nesting a path can name still loads, one more level does not
    TMemoryStream atLimit(NestedFolderBody(TFolder::kMaxFolderDepth));
    TFolder ok;
    ok.LoadFromStream(atLimit);
    int levels = 0;
    for (TFolder* f = &ok; f->HasSubFolders(); ++levels) {
        TFolderList subs;
        f->GetSubFolders(subs);
        f = static_cast<TFolder*>(subs[0]);
    }
    EXPECT_EQ(levels, TFolder::kMaxFolderDepth);
    TMemoryStream over(NestedFolderBody(TFolder::kMaxFolderDepth + 1));
    TFolder no;
    EXPECT_THROW(no.LoadFromStream(over), EFolderLoadAbort);
}

TEST_F(DiskFolder, DeepTreesAreRenamedSavedAndFreedWithoutRecursion) {
    // built level by level at run time, then walked and freed on a 256 KiB stack
    auto* top = new TFolder("/top");
    TFolder* f = top;
    for (int i = 0; i < 3000; ++i) f = f->AddSubFolder("d");
    TFolder* bottom = f;
    bool done = false;
    RunOnSmallStack([&] {
        top->Rename("/t");
        TMemoryStream file, buffer;
        int32_t counter = 0;
        top->SaveToStream(file, buffer, counter);
        FlushFolderSaveBuffer(file, buffer);
        EXPECT_EQ(file.Size(), (4 + 2 + 1 + 4 + 4) + 3000 * (4 + 1 + 1 + 4 + 4));
        EXPECT_EQ(bottom->GetFullName().substr(0, 5), "/t/d/");
        delete top;
        done = true;
    });
    EXPECT_TRUE(done);
}

TEST_F(DiskFolder, LargeTreesAreWrittenThroughTheBuffer) {
    TFolder root("/big");
    for (int s = 0; s < 3; ++s) {
        TFolder* sub = root.AddSubFolder("s" + std::to_string(s));
        for (int i = 0; i < 700; ++i) sub->FindOrCreateItem("IMG_" + std::to_string(i) + ".JPG", nullptr);
    }
    TMemoryStream file, buffer;
    int32_t counter = 1;
    root.SaveToStream(file, buffer, counter);
    EXPECT_GT(file.Size(), 0);  // flushed on the way
    EXPECT_LE(buffer.Position(), TFolder::kSaveBufferLimit + 200000);
    FlushFolderSaveBuffer(file, buffer);
    file.SetPosition(0);
    TFolder back;
    back.LoadFromStream(file);
    EXPECT_EQ(back.GetTotalItemCount(), 2100);
    // numbers run in tree order: the last item of the last folder has the last number
    TItemList last;
    back.FindSubFolder("s2")->GetItems(last);
    EXPECT_EQ(last.back()->GetItemNumber(), 2100);
    EXPECT_EQ(back.FindSubFolder("s0")->FindItem("IMG_0.JPG")->GetItemNumber(), 1);
}

// --- the exported info file

namespace {
const char* kInfo = R"(<?xml version="1.0" encoding="UTF-8"?>
<CorvaExportInfo>
  <file name="a.jpg" mark="1" orietation="6">
    <comment>浜辺で</comment>
    <effect meido="10" cont="15" gamma="120" red="1" green="2" blue="3" filter1="8" filter2="4" filter3="35">1</effect>
  </file>
  <file name="b.jpg" mark="0" orietation="9">
    <effect meido="50" gamma="300">0</effect>
  </file>
  <other name="c.jpg" mark="1"/>
  <file mark="1"/>
  <file name="nomatch.jpg" mark="1"/>
  <file name="old.jpg" mark="1"><comment>changed</comment></file>
</CorvaExportInfo>
)";
}  // namespace

TEST_F(DiskFolder, ExportedInfoReachesNewItemsOnly) {
    WriteFile(dir / "old.jpg", "o");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    f.FindItem("old.jpg")->SetComment("mine");

    WriteFile(dir / kInfoDataFileName, kInfo);
    WriteFile(dir / "a.jpg", "a");
    WriteFile(dir / "b.jpg", "b");
    WriteFile(dir / "c.jpg", "c");
    f.SearchFiles(nullptr);
    TCatalogItem* a = f.FindItem("a.jpg");
    TCatalogItem* b = f.FindItem("b.jpg");
    TCatalogItem* c = f.FindItem("c.jpg");
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(a->IsMarked());
    EXPECT_EQ(a->GetOrientation(), 6);
    EXPECT_TRUE(a->IsOrientationKnown());
    EXPECT_EQ(a->GetComment(), "浜辺で");
    TCorrectionRecord ca = a->GetCorrection();
    EXPECT_EQ(ca.Enabled, 1);
    EXPECT_EQ(ca.Brightness, 10);
    EXPECT_EQ(ca.Contrast, 15);
    EXPECT_EQ(ca.Gamma, 120);
    EXPECT_EQ(ca.Blue, 3);
    EXPECT_EQ(ca.Filter3, 35);
    EXPECT_FALSE(b->IsMarked());
    EXPECT_EQ(b->GetOrientation(), 1);
    EXPECT_FALSE(b->IsOrientationKnown());
    EXPECT_EQ(b->GetCorrection(), TCorrectionRecord::Neutral());
    EXPECT_FALSE(c->IsMarked());
    EXPECT_EQ(f.FindItem("old.jpg")->GetComment(), "mine");
    EXPECT_FALSE(f.FindItem("old.jpg")->IsMarked());
}

TEST_F(DiskFolder, ExportedInfoWrittenInCp932IsDecoded) {
    // "浜辺で" and half-width "ｶﾒﾗ" in CP932, as Japanese Windows programs write their files
    std::string xml = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<CorvaExportInfo>"
                      "<file name=\"a.jpg\"><comment>\x95\x6c\x95\xd3\x82\xc5 \xb6\xd2\xd7</comment></file>"
                      "</CorvaExportInfo>";
    WriteFile(dir / kInfoDataFileName, xml);
    WriteFile(dir / "a.jpg", "a");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    EXPECT_EQ(f.FindItem("a.jpg")->GetComment(), "浜辺で ｶﾒﾗ");
}

TEST_F(DiskFolder, ExportedInfoUnderAnotherRootOrMalformedIsIgnored) {
    fs::create_directories(dir / "log");
    OpenCorvaLog(Path("log"));
    ASSERT_TRUE(IsCorvaLogOpen());
    WriteFile(dir / kInfoDataFileName, "<SomethingElse><file name=\"a.jpg\" mark=\"1\"/></SomethingElse>");
    WriteFile(dir / "a.jpg", "a");
    TFolder f(Path());
    f.SearchFiles(nullptr);
    EXPECT_FALSE(f.FindItem("a.jpg")->IsMarked());

    WriteFile(dir / kInfoDataFileName, "<CorvaExportInfo><file name=\"b.jpg\" mark=\"1\">");
    WriteFile(dir / "b.jpg", "b");
    EXPECT_NO_THROW(f.SearchFiles(nullptr));
    ASSERT_NE(f.FindItem("b.jpg"), nullptr);
    EXPECT_FALSE(f.FindItem("b.jpg")->IsMarked());

    // a value that is no number fails the file, not the scan
    WriteFile(dir / kInfoDataFileName, "<CorvaExportInfo><file name=\"c.jpg\" mark=\"yes\"/></CorvaExportInfo>");
    WriteFile(dir / "c.jpg", "c");
    EXPECT_NO_THROW(f.SearchFiles(nullptr));
    EXPECT_EQ(f.GetItemCount(), 3);
    std::string logText;
    {
        std::ifstream in(CorvaLogFileName());
        logText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    CloseCorvaLog();
    EXPECT_NE(logText.find("LoadInfoDataXml"), std::string::npos);
    EXPECT_NE(logText.find("EInfoDataXmlError"), std::string::npos);
}

TEST_F(DiskFolder, AnUnlabelledVolumeStoredWithAnEmptyNameStaysOnline) {
    TDriveInfoRec info;
    ASSERT_TRUE(fv::GetDriveInfo(Path(), info));
    if (info.VolumeName != "Unknown") GTEST_SKIP() << "the temporary folder's volume has a label";
    info.VolumeName = "";  // as drive folders were stored before unlabelled volumes were named
    TFolderRoot root(info);
    TFolder* here = Reach(&root);
    here->CheckExists(false, false);
    EXPECT_FALSE(here->IsOffline());
}
