#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "core/engine.h"
#include "library/calendar.h"
#include "library/calendar_register.h"
#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "library/folder.h"
#include "library/image_facts.h"
#include "library/library_engine.h"
#include "library_test_util.h"

using namespace fv;
using namespace fvtest;

namespace {

// picture facts by file name: a date for the names it knows, nothing for the files it cannot
// open, "no camera data" for the others
class TDatesByName : public TImageFactsProvider {
public:
    std::map<std::string, TDateTime> Dates;
    std::set<std::string> Unopenable;
    std::atomic<int> Reads{0}, ReadsOnCaller{0};
    std::thread::id Caller = std::this_thread::get_id();
    int DelayMs = 0;
    bool ReadImageFacts(const std::string& path, uint8_t, TImageFacts& out) override {
        ++Reads;
        if (std::this_thread::get_id() == Caller) ++ReadsOnCaller;
        if (DelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
        if (Unopenable.count(fs::path(path).filename().string())) return false;
        out.Width = 640;
        out.Height = 480;
        auto it = Dates.find(fs::path(path).filename().string());
        out.HasCameraData = it != Dates.end();
        if (out.HasCameraData) out.ShootingDate = it->second;
        return true;
    }
    bool GetExifTextLines(const std::string&, uint8_t, const std::vector<std::string>&, std::vector<std::string>&) override {
        return false;
    }
};

TDateTime D(int y, int m, int d) { return EncodeDateTime(y, m, d, 10, 30, 0); }

struct CalendarRegister : EngineTest {
    std::shared_ptr<TDatesByName> facts = std::make_shared<TDatesByName>();
    TFolder* top = nullptr;
    void SetUp() override {
        EngineTest::SetUp();
        SetImageFactsProvider(facts);
        InitCorvaEngine();
        WriteFile(dir / "photos/a.jpg", "a");
        WriteFile(dir / "photos/b.jpg", "b");
        WriteFile(dir / "photos/undated.jpg", "u");
        WriteFile(dir / "photos/trip/c.jpg", "c");
        WriteFile(dir / "photos/trip/deep/d.jpg", "d");
        facts->Dates = {{"a.jpg", D(2024, 5, 1)}, {"b.jpg", D(2024, 5, 1)}, {"c.jpg", D(2023, 8, 9)},
                        {"d.jpg", D(2022, 1, 2)}};
        top = GetFolderFromPath(Path("photos"));
    }
    void TearDown() override {
        EngineTest::TearDown();
        SetImageFactsProvider(nullptr);
    }
    void Run(TCalendarRegistrar& r) {
        r.Start();
        r.WaitFor();
    }
    TCatalogItem* Item(const std::string& rel) {
        TFolder* f = GetFolderFromPath(Path(fs::path(rel).parent_path().string()));
        return f ? f->FindItem(fs::path(rel).filename().string()) : nullptr;
    }
    // the photos the calendar's watcher has filed on the day of the date
    size_t OnDay(TDateTime date) {
        TCalendar* day = CorvaCalendars()->FindOrCreateNode(false, date);
        if (!day || day->GetFolderKind() != fkCalendarDay) return 0;
        return day->GetCalendarItems().size();
    }
    bool WaitUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 300 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    }
};

}  // namespace

TEST_F(CalendarRegister, NewPhotosOfTheFolderAndEveryFolderBelowAreFiledOnTheirDaysOffTheCallersThread) {
    TCalendarRegistrar r({top}, true);
    Run(r);
    EXPECT_EQ(r.FoldersSeen(), 3);
    EXPECT_EQ(r.PhotosSeen(), 5);
    EXPECT_EQ(r.PhotosChanged(), 4);
    EXPECT_EQ(facts->Reads.load(), 5);
    EXPECT_EQ(facts->ReadsOnCaller.load(), 0);  // the files are read on the worker
    ASSERT_NE(Item("photos/trip/deep/d.jpg"), nullptr);
    EXPECT_TRUE(Item("photos/a.jpg")->IsInCalendar());
    EXPECT_TRUE(Item("photos/trip/deep/d.jpg")->IsInCalendar());
    // a photo without a shooting date has no day
    EXPECT_FALSE(Item("photos/undated.jpg")->IsInCalendar());
    // folders found below follow the registered one
    EXPECT_EQ(GetFolderFromPath(Path("photos/trip/deep"))->GetCheckState(), csRegistered);
    // the calendar's own watcher files them
    EXPECT_TRUE(WaitUntil([&] { return OnDay(D(2024, 5, 1)) == 2 && OnDay(D(2023, 8, 9)) == 1 && OnDay(D(2022, 1, 2)) == 1; }));

    // registering again reads no file twice and files nothing twice
    TCalendarRegistrar again({top}, true);
    Run(again);
    EXPECT_EQ(again.PhotosChanged(), 0);
    EXPECT_EQ(facts->Reads.load(), 5);  // no file is read twice (the undated one is known to have no date)
    EXPECT_EQ(OnDay(D(2024, 5, 1)), 2u);
}

TEST_F(CalendarRegister, UnregisteringTakesThePhotosOutAndExcludesTheFoldersBelow) {
    TCalendarRegistrar in({top}, true);
    Run(in);
    ASSERT_TRUE(WaitUntil([&] { return OnDay(D(2023, 8, 9)) == 1; }));
    TFolder* trip = GetFolderFromPath(Path("photos/trip"));
    // a file that appeared since is not made an item by taking the folder out
    WriteFile(dir / "photos/trip/late.jpg", "l");
    TCalendarRegistrar out({trip}, false);
    Run(out);
    EXPECT_EQ(out.PhotosChanged(), 2);
    EXPECT_EQ(trip->FindItem("late.jpg"), nullptr);
    EXPECT_FALSE(Item("photos/trip/c.jpg")->IsInCalendar());
    EXPECT_EQ(GetFolderFromPath(Path("photos/trip/deep"))->GetCheckState(), csExcluded);
    EXPECT_TRUE(Item("photos/a.jpg")->IsInCalendar());
    EXPECT_TRUE(WaitUntil([&] { return OnDay(D(2023, 8, 9)) == 0 && OnDay(D(2022, 1, 2)) == 0; }));
    EXPECT_EQ(OnDay(D(2024, 5, 1)), 2u);
}

TEST_F(CalendarRegister, ALinkBackUpTheTreeIsWalkedOnceAndAnEndRequestStopsTheWork) {
    fs::create_directory_symlink(dir / "photos", dir / "photos/trip/up");
    for (int i = 0; i < 200; ++i) WriteFile(dir / "photos" / ("many" + std::to_string(i) + ".jpg"), "m");
    TCalendarRegistrar all({top}, true);
    Run(all);
    EXPECT_EQ(all.FoldersSeen(), 3);  // photos, trip, deep: "up" leads back to photos
    EXPECT_EQ(all.PhotosSeen(), 205);

    // a slow disk: the end request comes while the files are read
    TFolder* trip = GetFolderFromPath(Path("photos/trip"));
    for (int i = 0; i < 200; ++i) WriteFile(dir / "photos/trip" / ("slow" + std::to_string(i) + ".jpg"), "s");
    facts->DelayMs = 5;
    TCalendarRegistrar slow({trip}, true);
    slow.Start();
    const int readsBefore = facts->Reads.load();
    ASSERT_TRUE(WaitUntil([&] { return facts->Reads.load() > readsBefore; }));
    auto t0 = std::chrono::steady_clock::now();
    slow.TerminateAndWait();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    // the folder's listing is finished; the dates left unread wait for the next pass
    EXPECT_EQ(trip->FindItem("slow199.jpg") != nullptr, true);
    EXPECT_LT(facts->Reads.load(), 205 + 100);
    EXPECT_EQ(trip->FindItem("slow199.jpg")->GetCameraState(), cdNotRead);
}

TEST_F(CalendarRegister, DatesReadForAListedFolderMoveAPhotoOnlyWhereItsFileSaysSo) {
    // photos filed on one day whose camera data is not read yet
    const TDateTime filed = D(2021, 6, 5);
    auto add = [&](const std::string& name, TDateTime fileTime) {
        TCatalogItem* it = top->FindOrCreateItem(name, nullptr);
        it->SetKind(ikJpeg);
        it->SetState(isPresent);
        it->SetFileTime(fileTime);
        it->SetShootingDate(filed);
        it->SetInCalendar(true);
        return it;
    };
    facts->Dates["camera.jpg"] = D(2024, 5, 1);
    facts->Unopenable = {"away.jpg"};
    TCatalogItem* camera = add("camera.jpg", D(2020, 1, 1));
    TCatalogItem* timed = add("timed.jpg", D(2021, 7, 1));
    TCatalogItem* untimed = add("untimed.jpg", 0);
    TCatalogItem* away = add("away.jpg", D(2021, 7, 1));
    ASSERT_TRUE(WaitUntil([&] { return OnDay(filed) == 4; }));

    TShootingDateReader reader({camera, timed, untimed, away});
    reader.Start();
    reader.WaitFor();
    EXPECT_EQ(reader.FilesRead(), 4);
    EXPECT_EQ(reader.DatesChanged(), 2);
    EXPECT_EQ(camera->GetShootingDate(), D(2024, 5, 1));
    // without camera data the file time stands in, but only a known one
    EXPECT_EQ(timed->GetShootingDate(), D(2021, 7, 1));
    EXPECT_EQ(untimed->GetShootingDate(), filed);
    EXPECT_EQ(untimed->GetCameraState(), cdNone);
    // a file that could not be opened told nothing: the date stays and is looked for again
    EXPECT_EQ(away->GetShootingDate(), filed);
    EXPECT_EQ(away->GetCameraState(), cdNotRead);
    // the calendar carries its moves in order: once the two moved ones are on their days, the
    // day they left holds the others
    ASSERT_TRUE(WaitUntil([&] { return OnDay(D(2024, 5, 1)) == 1 && OnDay(D(2021, 7, 1)) == 1; }));
    EXPECT_EQ(OnDay(filed), 2u);
    EXPECT_TRUE(untimed->IsInCalendar());
}
