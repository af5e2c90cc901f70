#pragma once
// The update confirmation: the service's update message above, the yes/no (or OK/Cancel) buttons
// below, centred on the desktop. The page is shown as rich text: no scripts, nothing fetched.
#include <QDialog>
#include <QPushButton>
#include <QTextBrowser>
#include <QWidget>

namespace fv {

class TConfirmUpdateForm : public QDialog {
    Q_OBJECT
public:
    // buttons: 1 yes, 2 no, 4 OK, 8 cancel
    TConfirmUpdateForm(const QString& html, int width, int height, uint32_t buttons, QWidget* parent = nullptr);
    QTextBrowser* WebMessage = nullptr;
    QWidget* PanelBtns = nullptr;
    QPushButton* BtnYes = nullptr;
    QPushButton* BtnNo = nullptr;
    static constexpr int kPanelHeight = 41;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void PlaceButtons();
};

// Shows the dialog modally (after the system sound) and answers true for yes or OK.
// FOLVANE_TEST_UPDATE_ANSWER=yes|no presses the button by itself for unattended runs.
bool RunConfirmUpdateForm(const QString& html, int width, int height, uint32_t buttons);

}  // namespace fv
