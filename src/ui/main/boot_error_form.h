#pragma once
// The start-up error dialog: an apology, a link to the help page about start-up errors and
// the buttons to open it or cancel.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace fv {

// the help page about start-up errors on the service's public web host
QString BootErrorHelpUrl();

class TBootErrorLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TBootErrorLinkLabel(const QString& text, QWidget* parent = nullptr);
    void SetHot(bool hot);
signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class TBootErrorForm : public QDialog {
    Q_OBJECT
public:
    explicit TBootErrorForm(QWidget* parent = nullptr);
    QPushButton* BtnOpen = nullptr;
    QPushButton* BtnCancel = nullptr;
    TBootErrorLinkLabel* LabelUrl = nullptr;
};

// Beeps, shows the dialog modally and, on OK, opens the help page in a separate browser window
// (a failure to do so is ignored). Returns the dialog result.
int RunBootErrorForm(QWidget* parent = nullptr);

// The boot error path: when an exception is given, a modal error box with its class name as
// caption and its message as text; then the start-up error dialog.
void ShowBootErrorPath(const QString& className, const QString& message, bool hasException);

// For tests and unattended runs: modal dialogs close themselves after this many milliseconds
// (FOLVANE_TEST_DIALOG_MS); 0 when unset.
int DialogAutoCloseMs();

}  // namespace fv
