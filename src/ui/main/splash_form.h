#pragma once
// The splash window: the start picture with the program's version at the bottom right,
// faded in, shown for its display time while start-up goes on, faded out and freed.
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

class QPropertyAnimation;

namespace fv {

// The splash picture, drawn here (480 x 300).
QPixmap DrawSplashPicture();

class TSplashForm : public QWidget {
    Q_OBJECT
public:
    // displayTimeMs 0: stays until clicked or it loses the focus
    explicit TSplashForm(int displayTimeMs, QWidget* owner = nullptr);
    // shows without blocking and paints at once
    static TSplashForm* ShowSplash(int displayTimeMs);

    QTimer* SplashTimer = nullptr;
    QLabel* LabelVersion = nullptr;
    bool Closing() const { return FClosing; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void FadeOutAndClose();
    QPixmap FPicture;
    bool FClosing = false;
};

}  // namespace fv
