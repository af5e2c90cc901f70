#include "ui/dialogs/cache_size_form.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/config.h"

namespace fv {

namespace {
QString Lines(const char* text) { return QString::fromUtf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }
}  // namespace

TCacheSizeForm::TCacheSizeForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TCacheSizeForm");
    setWindowTitle(QStringLiteral("サムネイルキャッシュの設定"));
    auto* v = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("　表示用のサムネイル画像の扱いを指定してください。"), this);
    title->setObjectName("PanelTitle");
    title->setAutoFillBackground(true);
    title->setStyleSheet(QStringLiteral("QLabel#PanelTitle { background: white; padding: 10px; font-weight: bold; }"));
    v->addWidget(title);

    auto* grid = new QGridLayout;
    RBDisk = new QRadioButton(QStringLiteral("サムネイル画像をディスクに保存する。"), this);
    RBDisk->setObjectName("RBDisk");
    SpinDisk = new QSpinBox(this);
    SpinDisk->setObjectName("SpinDisk");
    SpinDisk->setRange(kDiskMin, kDiskMax);
    SpinDisk->setValue(kDiskInitial);
    SpinDisk->setSuffix(QStringLiteral(" MB"));
    auto* diskText = new QLabel(Lines("作成したサムネイル画像をディスク上に保存しておきます。\r\n"
                                      "次回起動時には保存しておいたサムネイル画像を利用して表示します。\r\n"
                                      "表示は高速ですが、ハードディスクの容量を消費します。"),
                                this);
    RBMemory = new QRadioButton(QStringLiteral("サムネイル画像をディスクに保存しない。"), this);
    RBMemory->setObjectName("RBMemory");
    SpinMemory = new QSpinBox(this);
    SpinMemory->setObjectName("SpinMemory");
    SpinMemory->setRange(kMemoryMin, kMemoryMax);
    SpinMemory->setValue(kMemoryInitial);
    SpinMemory->setSuffix(QStringLiteral(" MB"));
    auto* memoryText = new QLabel(Lines("作成したサムネイル画像をディスク上に保存せずにメモリー上でのみ使用します。\r\n"
                                        "次回起動時にはサムネイル画像を再度作成して表示します。\r\n"
                                        "表示は遅くなりますが、ハードディスクの容量を消費しません。"),
                                  this);
    grid->addWidget(RBDisk, 0, 0);
    grid->addWidget(SpinDisk, 0, 1);
    grid->addWidget(diskText, 1, 0, 1, 2);
    grid->addWidget(RBMemory, 2, 0);
    grid->addWidget(SpinMemory, 2, 1);
    grid->addWidget(memoryText, 3, 0, 1, 2);
    grid->setContentsMargins(16, 8, 16, 8);
    v->addLayout(grid);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    v->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(RBDisk, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
    connect(RBMemory, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
    RBDisk->setChecked(true);
    UpdateEnabled();
}

void TCacheSizeForm::UpdateEnabled() {
    SpinDisk->setEnabled(RBDisk->isChecked());
    SpinMemory->setEnabled(RBMemory->isChecked());
}

void TCacheSizeForm::SetValues(uint8_t kind, uint32_t sizeMB) {
    bool disk = kind != 0;
    (disk ? RBDisk : RBMemory)->setChecked(true);
    QSpinBox* spin = disk ? SpinDisk : SpinMemory;
    if (sizeMB >= static_cast<uint32_t>(spin->minimum()) && sizeMB <= static_cast<uint32_t>(spin->maximum()))
        spin->setValue(static_cast<int>(sizeMB));
    UpdateEnabled();
}

uint8_t TCacheSizeForm::Kind() const { return RBDisk->isChecked() ? 1 : 0; }

uint32_t TCacheSizeForm::SizeMB() const {
    return static_cast<uint32_t>(RBDisk->isChecked() ? SpinDisk->value() : SpinMemory->value());
}

TCacheSizeForm::TResult TCacheSizeForm::Apply(TCorvaConfigItem& config) const {
    bool changed = false;
    if (Kind() != config.GetCacheKind()) {
        config.SetCacheKind(Kind());
        changed = true;
    }
    if (SizeMB() != config.GetCacheMaxSizeMB()) {
        config.SetCacheMaxSizeMB(SizeMB());
        changed = true;
    }
    return changed ? crChanged : crUnchanged;
}

}  // namespace fv
