#pragma once
// The main window's grid: the library set-up (listing options, the date line, the empty text,
// four hover buttons) and the enlarged viewer that takes the grid's place.
#include <QWidget>

#include "ui/grid/catalog_grid.h"

class QLabel;
class QPushButton;

namespace fv {

class TFrameView;

class TFrameCatalogView : public TFrameCatalogDG {
    Q_OBJECT
public:
    explicit TFrameCatalogView(QWidget* parent = nullptr);
    ~TFrameCatalogView() override;

    TFrameView* Viewer() const { return FViewer; }
    bool IsViewerOpen() const { return FViewerOpen; }
    void OpenViewer();
    void CloseViewer();
    // 0 normal, 2 print preview: the page bar replaces the status bar in a non-zero mode
    void SetViewerMode(int mode);
    int ViewerMode() const { return FViewerMode; }
    void ShowNext();
    void ShowPrev();
    QWidget* PagePanel() const { return FPagePanel; }
    void SetPages(int current, int total);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void PlaceViewer();
    TFrameView* FViewer = nullptr;
    bool FViewerOpen = false;
    int FViewerMode = 0;
    int FPage = 1, FPages = 1;
    QWidget* FPagePanel = nullptr;
    QLabel* FPageLabel = nullptr;
    QPushButton* FPrevPage = nullptr;
    QPushButton* FNextPage = nullptr;
    bool FKeepShowEmpty = false;
};

}  // namespace fv
