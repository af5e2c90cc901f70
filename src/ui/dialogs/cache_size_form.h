#pragma once
// The thumbnail cache settings: thumbnails kept on disk up to a size, or in memory only.
#include <QDialog>
#include <cstdint>

class QRadioButton;
class QSpinBox;
class QDialogButtonBox;

namespace fv {

class TCorvaConfigItem;

constexpr const char* kCacheChangedText =
    "サムネイルキャッシュの設定を変更しました。\r\n新しい設定を有効にするためには、FolvaneBrowserを再起動してください。";
constexpr const char* kCacheUnchangedText = "サムネイルキャッシュの設定は変更されていません。";

class TCacheSizeForm : public QDialog {
    Q_OBJECT
public:
    enum TResult { crUnchanged, crChanged };
    static constexpr int kDiskMin = 64, kDiskMax = 4000, kDiskInitial = 1000;
    static constexpr int kMemoryMin = 8, kMemoryMax = 128, kMemoryInitial = 16;

    explicit TCacheSizeForm(QWidget* parent = nullptr);

    // kind 0: memory only, otherwise on disk; a size outside the chosen box's range leaves its initial value
    void SetValues(uint8_t kind, uint32_t sizeMB);
    uint8_t Kind() const;
    uint32_t SizeMB() const;
    // stores a changed kind and a changed size; tells whether anything changed
    TResult Apply(TCorvaConfigItem& config) const;

    QRadioButton* RBDisk = nullptr;
    QRadioButton* RBMemory = nullptr;
    QSpinBox* SpinDisk = nullptr;
    QSpinBox* SpinMemory = nullptr;
    QDialogButtonBox* Buttons = nullptr;

private:
    void UpdateEnabled();
};

}  // namespace fv
