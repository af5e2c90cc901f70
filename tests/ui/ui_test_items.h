#pragma once
// Catalog items for UI tests: a disk folder object for a real directory with items for its
// files, made the way a listing makes them (kind, recorded size, dates), and an event-loop wait.
#include <QImage>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/datetime.h"

namespace fv::test {

namespace fs = std::filesystem;

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (done()) return true;
        QTest::qWait(10);
    }
    return done();
}

inline std::string TestPhotoDir() { return FV_TESTDATA_DIR "/photos"; }

// A private directory per test with a folder object for it.
class TTestFolder {
public:
    explicit TTestFolder(const std::string& name) {
        FDir = fs::temp_directory_path() / ("fv-ui-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(FDir);
        fs::create_directories(FDir);
        FFolder = std::make_unique<TFolder>(FDir.string());
    }
    ~TTestFolder() {
        FFolder.reset();
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }
    TFolder* Folder() const { return FFolder.get(); }
    std::string Path(const std::string& name) const { return (FDir / name).string(); }

    // an item for a file (the file need not exist); kind 1 JPEG
    TCatalogItem* Add(const std::string& name, int width, int height, TDateTime shot = 0, int kind = 1) {
        bool created = false;
        TCatalogItem* item = FFolder->FindOrCreateItem(name, &created);
        item->SetKind(static_cast<uint8_t>(kind));
        item->SetSize(width, height);
        item->SetShootingDate(shot);
        item->SetState(isPresent);
        return item;
    }
    // copies a sample photo in and makes its item with the recorded size of the picture
    TCatalogItem* AddCopy(const std::string& sample, const std::string& name, TDateTime shot = 0) {
        fs::copy_file(sample, FDir / name, fs::copy_options::overwrite_existing);
        QImage img(QString::fromStdString(sample));
        return Add(name, img.width(), img.height(), shot);
    }
    // a JPEG of the given size: a gradient with a grid, so that scaling shows
    TCatalogItem* AddMade(const std::string& name, int width, int height, TDateTime shot = 0) {
        QImage img(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < width; ++x) {
                bool grid = (x % 100) < 3 || (y % 100) < 3;
                line[x] = grid ? qRgb(255, 255, 255) : qRgb(x * 255 / width, y * 255 / height, 128);
            }
        }
        img.save(QString::fromStdString(Path(name)), "JPEG", 85);
        return Add(name, width, height, shot);
    }

private:
    fs::path FDir;
    std::unique_ptr<TFolder> FFolder;
};

}  // namespace fv::test
