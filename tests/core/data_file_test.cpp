#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "core/data_file.h"
#include "core/log.h"
#include "platform/datetime.h"
#include "temp_dir.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

using fv::test::ReadFileText;

struct DataFile : fv::test::TTempDirTest {
    const char* DirPrefix() const override { return "fv-datafile-"; }
    void TearDown() override {
        CloseCorvaLog();
        TTempDirTest::TearDown();
    }
    std::string File() const { return (dir / "CorvaData.tdb").string(); }
};

uint32_t WriteText(TStream& s, const std::string& text, uint32_t count) {
    s.WriteText(text);
    return count;
}

// loads a body written by WriteText, the way the engine's loaders work: header first, then fields
std::string LoadText(TStream& s) {
    TDataFileHeader h = ReadDataFileHeader(s);
    if (!h.MagicOk) throw Exception("データファイルのマーカが異常です。");
    return s.ReadText();
}

// A large body of one generation: every block carries the generation, so a mix of two saves or a
// cut shows.
constexpr int kBlocks = 96;
constexpr int kBlockSize = 64 * 1024;
uint32_t WriteGeneration(TStream& s, uint32_t gen) {
    s.WriteU32(gen);
    std::vector<uint8_t> block(kBlockSize);
    for (int b = 0; b < kBlocks; ++b) {
        std::fill(block.begin(), block.end(), static_cast<uint8_t>(gen * 31 + b));
        s.WriteU32(static_cast<uint32_t>(b));
        s.WriteBuffer(block.data(), kBlockSize);
    }
    s.WriteU32(0xC0FFEEu ^ gen);
    return gen;
}
uint32_t CheckGeneration(TStream& s) {
    TDataFileHeader h = ReadDataFileHeader(s);
    if (!h.MagicOk) throw Exception("marker");
    uint32_t gen = s.ReadU32();
    if (h.Count != gen) throw Exception("count in the header does not match the body");
    std::vector<uint8_t> block(kBlockSize);
    for (int b = 0; b < kBlocks; ++b) {
        if (s.ReadU32() != static_cast<uint32_t>(b)) throw Exception("block order");
        s.ReadBuffer(block.data(), kBlockSize);
        for (uint8_t v : block)
            if (v != static_cast<uint8_t>(gen * 31 + b)) throw Exception("block content");
    }
    if (s.ReadU32() != (0xC0FFEEu ^ gen)) throw Exception("trailer");
    if (s.Remaining() != 0) throw Exception("bytes after the end");
    return gen;
}

bool SavingFileIn(const fs::path& dir) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().find(".saving-") != std::string::npos) return true;
    return false;
}

}  // namespace

TEST_F(DataFile, HeaderLayoutAndBackupNames) {
    TMemoryStream m;
    WriteDataFileHeader(m, 0x01020304u, 2.5);
    const std::vector<uint8_t> want = {'C', 'O', 'R', 'V', 'A', 'D', 'F', 0,    10, 0, 0, 0, 4, 3, 2, 1,
                                       0,   0,   0,   0,   0,   0,   4,   0x40};
    EXPECT_EQ(m.Data(), want);
    m.SetPosition(0);
    TDataFileHeader h = ReadDataFileHeader(m);
    EXPECT_TRUE(h.MagicOk);
    EXPECT_EQ(h.Version, 10u);
    EXPECT_EQ(h.Count, 0x01020304u);
    EXPECT_EQ(h.SaveTime, 2.5);
    m.Data()[6] = 'X';
    m.SetPosition(0);
    EXPECT_FALSE(ReadDataFileHeader(m).MagicOk);
    TMemoryStream cut(std::vector<uint8_t>(want.begin(), want.begin() + 20));
    EXPECT_THROW(ReadDataFileHeader(cut), EReadError);

    EXPECT_EQ(DataFileBackupName("/d/CorvaData.tdb"), "/d/CorvaData.bak");
    EXPECT_EQ(DataFileBackupName("/d.x/CorvaHistory"), "/d.x/CorvaHistory.bak");
}

TEST_F(DataFile, SaveKeepsThePreviousVersionAsBakAndNeverAHalfFile) {
    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "first", 7); });
    EXPECT_FALSE(fs::exists(dir / "CorvaData.bak"));
    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "second", 9); });
    TMemoryStream main;
    main.LoadFromFile(File());
    TDataFileHeader h = ReadDataFileHeader(main);
    EXPECT_EQ(h.Count, 9u);
    EXPECT_GT(h.SaveTime, 40000.0);  // a local date-time of this century
    EXPECT_EQ(main.ReadText(), "second");
    TMemoryStream bak;
    bak.LoadFromFile((dir / "CorvaData.bak").string());
    EXPECT_EQ(LoadText(bak), "first");

    // a body that fails (disk full, a bug) leaves both files as they were and no temporary file
    EXPECT_THROW(SaveDataFile(File(), [](TStream& s) -> uint32_t {
                     s.WriteText("third, cut short");
                     throw EWriteError("Stream write error");
                 }),
                 EWriteError);
    main.LoadFromFile(File());
    EXPECT_EQ(LoadText(main), "second");
    bak.LoadFromFile((dir / "CorvaData.bak").string());
    EXPECT_EQ(LoadText(bak), "first");
    int files = 0;
    for (auto& e : fs::directory_iterator(dir)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2);
}

// A body like the album list's: version, count, its own save time, then data longer than one
// comparison chunk, with one byte that can differ at `changeAt` and a chosen length.
struct TBody {
    double Time = 1.0;
    size_t Length = 150000;
    size_t ChangeAt = 0;
    uint8_t Change = 0;
    uint32_t Count = 5;
};
uint32_t WriteBody(TStream& s, const TBody& b) {
    s.WriteU32(50);
    s.WriteU32(0);
    s.WriteDouble(b.Time);
    std::vector<uint8_t> data(b.Length);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    if (b.ChangeAt < data.size()) data[b.ChangeAt] ^= b.Change;
    // in pieces, as the savers flush their buffers
    for (size_t at = 0; at < data.size(); at += 10000)
        s.WriteBuffer(data.data() + at, static_cast<int64_t>(std::min<size_t>(10000, data.size() - at)));
    return b.Count;
}
// the file a save of `b` must leave, apart from the header's save time
std::string Expected(const TBody& b) {
    TMemoryStream m;
    WriteDataFileHeader(m, 0, 0);
    uint32_t count = WriteBody(m, b);
    m.Seek(12, soBeginning);
    m.WriteU32(count);
    return std::string(m.Data().begin(), m.Data().end());
}
std::string WithoutSaveTime(std::string bytes) {
    if (bytes.size() >= 24) bytes.replace(16, 8, 8, '\0');
    return bytes;
}

TEST_F(DataFile, AnUnchangedSaveWritesNothingAndKeepsTheOlderBak) {
    auto save = [&](const TBody& b) { SaveDataFile(File(), [&](TStream& s) { return WriteBody(s, b); }, 8); };
    const std::string bak = (dir / "CorvaData.bak").string();
    TBody v1, v2;
    v2.ChangeAt = 100;
    v2.Change = 0x40;
    save(v1);
    save(v2);
    const std::string mainBytes = ReadFileText(File());
    ASSERT_EQ(WithoutSaveTime(mainBytes), Expected(v2));
    ASSERT_EQ(WithoutSaveTime(ReadFileText(bak)), Expected(v1));

    // the same library again, only its own save time differs: neither file is touched
    TBody again = v2;
    again.Time = 2.0;
    save(again);
    EXPECT_EQ(ReadFileText(File()), mainBytes);  // the header's save time too
    EXPECT_EQ(WithoutSaveTime(ReadFileText(bak)), Expected(v1));
    EXPECT_FALSE(SavingFileIn(dir));

    // a different count in the header is a change
    TBody counted = again;
    counted.Count = 6;
    save(counted);
    EXPECT_EQ(WithoutSaveTime(ReadFileText(File())), Expected(counted));
    EXPECT_EQ(WithoutSaveTime(ReadFileText(bak)), Expected(v2));

    // a difference far into the body, a shorter and a longer body: the file is the new one byte
    // for byte (its equal beginning is copied from the current file, the body's time is the new one)
    TBody late = counted, shorter = counted, longer = counted;
    late.ChangeAt = 140000;
    late.Change = 1;
    late.Time = 3.0;
    shorter.Length = 90000;
    longer.Length = 200000;
    for (const TBody& b : {late, shorter, longer}) {
        std::string before = ReadFileText(File());
        save(b);
        EXPECT_EQ(WithoutSaveTime(ReadFileText(File())), Expected(b));
        EXPECT_EQ(ReadFileText(bak), before);
        EXPECT_FALSE(SavingFileIn(dir));
    }

    // without a backup the save is made even when nothing changed, so that one exists
    fs::remove(bak);
    save(longer);
    EXPECT_EQ(WithoutSaveTime(ReadFileText(bak)), Expected(longer));
}

TEST_F(DataFile, UnreadableMainFileFallsBackToBakAndLogsIt) {
    OpenCorvaLog(dir.string());
    std::string got;
    auto load = [&](TStream& s) {
        got += "+";
        got += LoadText(s);
    };
    auto reset = [&] { got.clear(); };
    EXPECT_EQ(LoadDataFileWithBackup(File(), load, reset), TDataFileSource::None);

    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "good", 0); });
    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "newer", 0); });
    EXPECT_EQ(LoadDataFileWithBackup(File(), load, reset), TDataFileSource::Main);
    EXPECT_EQ(got, "+newer");

    std::string bytes = ReadFileText(File());
    for (std::string damaged : {std::string(), bytes.substr(0, 30), "XORVADF" + bytes.substr(7)}) {
        std::ofstream(File(), std::ios::binary | std::ios::trunc) << damaged;
        got.clear();
        EXPECT_EQ(LoadDataFileWithBackup(File(), load, reset), TDataFileSource::Backup);
        EXPECT_EQ(got, "+good");  // the first attempt's leftovers were reset
    }
    // both damaged: the main file's error, with what it could give (here nothing)
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << "";
    std::ofstream((dir / "CorvaData.bak").string(), std::ios::binary | std::ios::trunc) << "junk";
    got.clear();
    EXPECT_THROW(LoadDataFileWithBackup(File(), load, reset), Exception);
    EXPECT_EQ(got, "+");
    std::string log = ReadFileText(CorvaLogFileName());
    EXPECT_NE(log.find("の代わりにバックアップ"), std::string::npos);
    EXPECT_NE(log.find("データファイルのマーカが異常です。"), std::string::npos);
}

std::vector<std::string> NamesIn(const fs::path& folder, const std::string& part) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(part) != std::string::npos) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A main file that the ".bak" stood in for is set aside under its own name: the next save makes a
// new main file and keeps the good ".bak" instead of rotating the damaged file into it. Both
// unreadable: both stay where they are.
TEST_F(DataFile, ADamagedMainFileIsSetAsideAndTheGoodBakSurvivesTheNextSaves) {
    std::string got;
    auto load = [&](TStream& s) { got = LoadText(s); };
    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "good", 0); });
    SaveDataFile(File(), [](TStream& s) { return WriteText(s, "newer", 0); });
    SetNowForTesting(EncodeDateTime(2024, 5, 6, 7, 8, 9));
    for (int damage = 0; damage < 5; ++damage) {
        std::ofstream(File(), std::ios::binary | std::ios::trunc) << "damaged " << damage;
        ASSERT_EQ(LoadDataFileWithBackup(File(), load, {}), TDataFileSource::Backup);
        EXPECT_EQ(got, "good");
        EXPECT_FALSE(fs::exists(File()));
        // the run goes on and saves what it has: the good copy stays the ".bak"
        SaveDataFile(File(), [](TStream& s) { return WriteText(s, "good", 0); });
        TMemoryStream bak;
        bak.LoadFromFile((dir / "CorvaData.bak").string());
        EXPECT_EQ(LoadText(bak), "good");
        ASSERT_EQ(LoadDataFileWithBackup(File(), load, {}), TDataFileSource::Main);
    }
    // the newest few damaged files are kept, the first ones went
    std::vector<std::string> aside = NamesIn(dir, ".damaged-");
    ASSERT_EQ(aside.size(), kDamagedDataFilesKept);
    EXPECT_EQ(aside[0], "CorvaData.tdb.damaged-20240506-070809-03");
    EXPECT_EQ(ReadFileText((dir / aside.back()).string()), "damaged 4");

    std::ofstream(File(), std::ios::binary | std::ios::trunc) << "damaged";
    std::ofstream((dir / "CorvaData.bak").string(), std::ios::binary | std::ios::trunc) << "junk";
    EXPECT_THROW(LoadDataFileWithBackup(File(), load, {}), Exception);
    EXPECT_EQ(ReadFileText(File()), "damaged");
    EXPECT_EQ(ReadFileText((dir / "CorvaData.bak").string()), "junk");
    SetNowForTesting(0);
}

// The temporary files of killed saves go at the next start; those of live processes stay.
TEST_F(DataFile, LeftoversOfSavesWhoseProcessIsGoneAreRemoved) {
    pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    pid_t alive = ::fork();
    ASSERT_GE(alive, 0);
    if (alive == 0) {
        ::pause();
        ::_exit(0);
    }
    auto make = [&](const std::string& name) { std::ofstream((dir / name).string()) << "partial"; };
    make(Format(".CorvaData.tdb.saving-%d", static_cast<int>(gone)));
    make(Format(".CorvaHistory.tdb.saving-%d", static_cast<int>(gone)));
    make(Format(".CorvaData.tdb.saving-%d", static_cast<int>(alive)));
    make(Format(".CorvaData.tdb.saving-%d", static_cast<int>(::getpid())));
    make(".CorvaData.tdb.saving-x1");
    make("CorvaData.tdb.saving-1x");
    RemoveSaveLeftovers(dir.string() + "/");
    ::kill(alive, SIGKILL);
    ::waitpid(alive, nullptr, 0);
    std::vector<std::string> left = NamesIn(dir, ".saving-");
    std::vector<std::string> want = {".CorvaData.tdb.saving-x1",
                                     Format(".CorvaData.tdb.saving-%d", static_cast<int>(alive)),
                                     Format(".CorvaData.tdb.saving-%d", static_cast<int>(::getpid())),
                                     "CorvaData.tdb.saving-1x"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(left, want);
}

// A process killed at any moment of a save leaves a main file that loads completely: the one
// before or the one being saved, never a mix or a cut.
TEST_F(DataFile, KillingASavingProcessNeverLeavesADamagedFile) {
    SaveDataFile(File(), [](TStream& s) { return WriteGeneration(s, 1); });
    std::mt19937 rng(1234);
    int killedMidSave = 0;
    uint32_t lastSeen = 1;
    for (int round = 0; round < 40; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (uint32_t gen = lastSeen + 1;; ++gen) SaveDataFile(File(), [gen](TStream& s) { return WriteGeneration(s, gen); });
            ::_exit(0);
        }
        // once the child is writing, let it go on for a random while: the kill lands anywhere in a
        // save, or between two (the machine's load decides how far each save gets)
        for (int wait = 0; wait < 5000 && !SavingFileIn(dir); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        for (auto& e : fs::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            if (n.find(".saving-") != std::string::npos) {
                ++killedMidSave;
                fs::remove(e.path());  // what a later save would overwrite; the test keeps the folder small
            }
        }
        TMemoryStream main;
        main.LoadFromFile(File());
        uint32_t gen = 0;
        ASSERT_NO_THROW(gen = CheckGeneration(main)) << "round " << round;
        EXPECT_GE(gen, lastSeen);
        lastSeen = gen;
        if (fs::exists(dir / "CorvaData.bak")) {
            TMemoryStream bak;
            bak.LoadFromFile((dir / "CorvaData.bak").string());
            ASSERT_NO_THROW(CheckGeneration(bak)) << "round " << round;
        }
    }
    EXPECT_GT(killedMidSave, 10);  // most kills hit a save in progress, so the test means something
}

TEST_F(DataFile, OneProcessAtATimeHoldsTheDataFolder) {
    TDataFolderLock first(dir.string());
    TDataFolderLock second(dir.string() + "/");
    EXPECT_TRUE(first.TryAcquire());
    EXPECT_TRUE(first.TryAcquire());  // taking it again is harmless
    EXPECT_FALSE(second.TryAcquire());
    try {
        second.Acquire();
        ADD_FAILURE() << "the second holder got the lock";
    } catch (const EDataFolderInUse& e) {
        EXPECT_NE(e.Message().find(dir.string()), std::string::npos);
    }
    // another process sees the same
    pid_t child = ::fork();
    if (child == 0) {
        TDataFolderLock other(dir.string());
        ::_exit(other.TryAcquire() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    first.Release();
    EXPECT_TRUE(second.TryAcquire());
}
