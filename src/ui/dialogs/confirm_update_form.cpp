#include "ui/dialogs/confirm_update_form.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <cstring>

#include "ui/main/boot_error_form.h"

namespace fv {

TConfirmUpdateForm::TConfirmUpdateForm(const QString& html, int width, int height, uint32_t buttons, QWidget* parent)
    : QDialog(parent) {
    setObjectName("TConfirmUpdateForm");
    setWindowTitle(QStringLiteral("Folvane Browser アップデートの確認"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    WebMessage = new QTextBrowser(this);
    WebMessage->setObjectName("WebMessage");
    WebMessage->setOpenLinks(false);  // the message is read here; its links lead nowhere
    WebMessage->setHtml(html.isEmpty() ? QStringLiteral("<p>新しいバージョンのFolvane Browserがあります。アップデートしますか？</p>") : html);
    v->addWidget(WebMessage, 1);
    PanelBtns = new QWidget(this);
    PanelBtns->setObjectName("PanelBtns");
    PanelBtns->setFixedHeight(kPanelHeight);
    PanelBtns->installEventFilter(this);
    v->addWidget(PanelBtns);
    BtnYes = new QPushButton(PanelBtns);
    BtnYes->setObjectName("BtnYes");
    BtnNo = new QPushButton(PanelBtns);
    BtnNo->setObjectName("BtnNo");
    for (QPushButton* b : {BtnYes, BtnNo}) b->setFixedSize(100, 29);

    if (buttons & 1u)
        BtnYes->setText(QStringLiteral("はい(&Y)"));
    else if (buttons & 4u)
        BtnYes->setText(QStringLiteral("OK"));
    else
        BtnYes->setEnabled(false), BtnYes->setVisible(false);
    if (buttons & 2u)
        BtnNo->setText(QStringLiteral("いいえ(&N)"));
    else if (buttons & 8u)
        BtnNo->setText(QStringLiteral("Cancel"));
    else
        BtnNo->setEnabled(false), BtnNo->setVisible(false);
    connect(BtnYes, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnNo, &QPushButton::clicked, this, &QDialog::reject);

    // client size: the message's size plus the button panel
    resize(std::max(width, 240), std::max(height, 80) + kPanelHeight);
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
    PlaceButtons();
}

bool TConfirmUpdateForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == PanelBtns && e->type() == QEvent::Resize) PlaceButtons();
    return QDialog::eventFilter(watched, e);
}

void TConfirmUpdateForm::PlaceButtons() {
    std::vector<QPushButton*> shown;
    for (QPushButton* b : {BtnYes, BtnNo})
        if (!b->isHidden()) shown.push_back(b);
    const int gap = 16, w = 100, h = 29;
    int total = static_cast<int>(shown.size()) * w + (shown.size() > 1 ? gap : 0);
    int x = (PanelBtns->width() - total) / 2, y = (PanelBtns->height() - h) / 2;
    for (QPushButton* b : shown) {
        b->move(x, y);
        x += w + gap;
    }
}

bool RunConfirmUpdateForm(const QString& html, int width, int height, uint32_t buttons) {
    TConfirmUpdateForm form(html, width, height, buttons);
    QApplication::beep();
    if (const char* answer = std::getenv("FOLVANE_TEST_UPDATE_ANSWER")) {
        bool yes = std::strcmp(answer, "yes") == 0;
        QTimer::singleShot(300, &form, [&form, yes] {
            if (yes && form.BtnYes->isEnabled()) form.BtnYes->click();
            else form.reject();
        });
    } else if (int ms = DialogAutoCloseMs()) {
        QTimer::singleShot(ms, &form, &QDialog::reject);
    }
    return form.exec() == QDialog::Accepted;
}

}  // namespace fv
