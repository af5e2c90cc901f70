#include "ui/main/boot_error_form.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdlib>

#include "core/log.h"
#include "ui/main/screenshot.h"

namespace fv {

QString BootErrorHelpUrl() { return QStringLiteral("https://www.folvane.jp/ja/fvb/error/"); }

int DialogAutoCloseMs() {
    const char* v = std::getenv("FOLVANE_TEST_DIALOG_MS");
    return v ? std::atoi(v) : 0;
}

TBootErrorLinkLabel::TBootErrorLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setObjectName("LabelUrl");
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    SetHot(false);
}

void TBootErrorLinkLabel::SetHot(bool hot) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, hot ? Qt::red : Qt::blue);
    setPalette(p);
}

void TBootErrorLinkLabel::enterEvent(QEnterEvent* e) {
    SetHot(true);
    QLabel::enterEvent(e);
}

void TBootErrorLinkLabel::leaveEvent(QEvent* e) {
    SetHot(false);
    QLabel::leaveEvent(e);
}

void TBootErrorLinkLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(e);
}

TBootErrorForm::TBootErrorForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TBootErrorForm");
    setWindowTitle(QStringLiteral("Folvane Browser 起動エラー"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(394, 130);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(12, 12, 12, 10);
    v->setSpacing(4);
    auto centred = [&](const QString& t) {
        auto* l = new QLabel(t, this);
        l->setAlignment(Qt::AlignCenter);
        v->addWidget(l);
        return l;
    };
    centred(QStringLiteral("Folvaneブラウザを起動することができませんでした。"));
    centred(QStringLiteral("ご迷惑をお掛けして申し訳ございません。"));

    auto* linkRow = new QHBoxLayout;
    linkRow->setSpacing(0);
    linkRow->addStretch();
    linkRow->addWidget(new QLabel(QStringLiteral("詳細は、"), this));
    LabelUrl = new TBootErrorLinkLabel(QStringLiteral("【起動エラーについて】"), this);
    linkRow->addWidget(LabelUrl);
    linkRow->addWidget(new QLabel(QStringLiteral("ページを参照してください。"), this));
    linkRow->addStretch();
    v->addLayout(linkRow);
    v->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    BtnOpen = new QPushButton(QStringLiteral("ページを開く"), this);
    BtnOpen->setObjectName("BtnOpen");
    BtnOpen->setDefault(true);
    BtnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    BtnCancel->setObjectName("BtnCancel");
    buttons->addWidget(BtnOpen);
    buttons->addWidget(BtnCancel);
    buttons->addStretch();
    v->addLayout(buttons);

    connect(BtnOpen, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(LabelUrl, &TBootErrorLinkLabel::clicked, this, &QDialog::accept);
    BtnOpen->setFocus();

    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

int RunBootErrorForm(QWidget* parent) {
    QApplication::beep();
    TBootErrorForm form(parent);
    ScheduleScreenshot(300, "boot_error_form.png", &form);
    if (int ms = DialogAutoCloseMs()) QTimer::singleShot(ms, &form, &QDialog::reject);
    int result = form.exec();
    if (result == QDialog::Accepted) {
        // a separate browser window; failing to open it changes nothing
        QDesktopServices::openUrl(QUrl(BootErrorHelpUrl()));
    }
    return result;
}

void ShowBootErrorPath(const QString& className, const QString& message, bool hasException) {
    if (hasException) {
        QApplication::beep();
        QMessageBox box(QMessageBox::Critical, className, message, QMessageBox::Ok);
        box.setObjectName("BootErrorMessage");
        ScheduleScreenshot(300, "boot_error_message.png", &box);
        if (int ms = DialogAutoCloseMs()) QTimer::singleShot(ms, &box, &QDialog::accept);
        box.exec();
    }
    RunBootErrorForm(nullptr);
}

}  // namespace fv
