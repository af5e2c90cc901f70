#include "ui/grid/catalog_view.h"

#include <QHBoxLayout>
#include <QResizeEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>

#include "library/catalog_item.h"
#include "ui/common_images.h"
#include "ui/viewer/frame_view.h"

namespace fv {

TFrameCatalogView::TFrameCatalogView(QWidget* parent) : TFrameCatalogDG(parent) {
    // the listing thread, the thumbnail maker and the engine's copy and move
    UseEngineProducers();
    SetListingOptions(35);
    SetInfoLines(gilDate);
    SetShowEmptyText(true, QStringLiteral("（表示できる写真はありません。）"));
    SetHoverButtons({
        {ciRotateLeft, QStringLiteral("左に回転"), [this](TCatalogItem*) { Operation(0, gopRotateLeft); }},
        {ciRotateRight, QStringLiteral("右に回転"), [this](TCatalogItem*) { Operation(0, gopRotateRight); }},
        {ciZoomView, QStringLiteral("写真の拡大表示"),
         [this](TCatalogItem* it) {
             if (it) SetFocusedItem(it);
             OpenViewer();
         }},
        {ciFavourite, QStringLiteral("お気に入り"), [this](TCatalogItem*) { Operation(0, gopFavouriteToggle); }},
    });

    FViewer = new TFrameView(this);
    FViewer->hide();
    FViewer->SetNextHandler([this](TCatalogItem*, bool) { ShowNext(); });
    FViewer->SetPrevHandler([this](TCatalogItem*, bool) { ShowPrev(); });
    FViewer->SetPageCountHandler([this](int current, int total) { SetPages(current, total); });
    // the viewer prepares the photos on either side in the grid's order
    FViewer->SetNeighbourHandler(
        [this](TCatalogItem* from, int step) { return step > 0 ? NextItem(from, true) : PrevItem(from, true); });
    FViewer->SetFirstLastHandler([this](bool last) {
        // an item not in the list stands for "before the first" / "after the last"
        TCatalogItem* target = last ? PrevItem(nullptr, false) : NextItem(nullptr, false);
        if (target) SetFocusedItem(target);
    });

    // the page bar of the print preview
    FPagePanel = new QWidget(this);
    FPagePanel->setObjectName("PanelPrevPage");
    auto* h = new QHBoxLayout(FPagePanel);
    h->setContentsMargins(4, 2, 4, 2);
    auto* back = new QPushButton(QStringLiteral("戻る"), FPagePanel);
    back->setObjectName("AcShowMain");
    FPrevPage = new QPushButton(QStringLiteral("前のページ"), FPagePanel);
    FPageLabel = new QLabel(FPagePanel);
    FNextPage = new QPushButton(QStringLiteral("次のページ"), FPagePanel);
    h->addWidget(back);
    h->addStretch();
    h->addWidget(FPrevPage);
    h->addWidget(FPageLabel);
    h->addWidget(FNextPage);
    h->addStretch();
    connect(back, &QPushButton::clicked, this, [this] { CloseViewer(); });
    connect(FPrevPage, &QPushButton::clicked, this, [this] { ShowPrev(); });
    connect(FNextPage, &QPushButton::clicked, this, [this] { ShowNext(); });
    FPagePanel->hide();
    SetPages(1, 1);

    // while the viewer is open every focus change shows the new photo
    OnFocusChanged = [this](TCatalogItem* item) {
        if (FViewerOpen) FViewer->ShowItem(item);
    };
    OnOpenItem = [this](TCatalogItem* item) {
        SetFocusedItem(item);
        OpenViewer();
    };
}

TFrameCatalogView::~TFrameCatalogView() { FViewer->Stop(); }

void TFrameCatalogView::PlaceViewer() {
    int sh = !StatusBar()->isHidden() ? StatusBar()->sizeHint().height() : 0;
    if (!FPagePanel->isHidden()) sh = FPagePanel->sizeHint().height();
    FViewer->setGeometry(0, 0, width(), height() - sh);
    FPagePanel->setGeometry(0, height() - sh, width(), sh);
}

void TFrameCatalogView::resizeEvent(QResizeEvent* e) {
    TFrameCatalogDG::resizeEvent(e);
    PlaceViewer();
}

void TFrameCatalogView::OpenViewer() {
    if (FViewerOpen) return;
    FViewerOpen = true;
    FKeepShowEmpty = true;
    FViewer->Start();
    viewport()->hide();
    verticalScrollBar()->hide();
    SizeSlider()->hide();
    KeepOnlyScreenPictures();
    PlaceViewer();
    FViewer->show();
    FViewer->raise();
    FViewer->setFocus();
    if (FViewer->PreviewMode() != 0) FViewer->Reload();
    FViewer->ShowItem(FocusedItem());
}

void TFrameCatalogView::CloseViewer() {
    if (!FViewerOpen) return;
    FViewerOpen = false;
    FViewer->hide();
    FViewer->ShowItem(nullptr);
    viewport()->show();
    SizeSlider()->show();
    if (FViewerMode != 0) SetViewerMode(0);
    setFocus();
    // the selection of two or more stays; the layout is made for the grid again
    QResizeEvent re(size(), size());
    TFrameCatalogDG::resizeEvent(&re);
}

void TFrameCatalogView::SetViewerMode(int mode) {
    FViewerMode = mode;
    bool pages = mode != 0;
    FPagePanel->setVisible(pages);
    StatusBar()->setVisible(!pages);
    FViewer->SetPreviewMode(mode);
    PlaceViewer();
}

void TFrameCatalogView::SetPages(int current, int total) {
    FPages = std::max(1, total);
    FPage = std::clamp(current, 1, FPages);
    FPageLabel->setText(QStringLiteral("%1 / %2").arg(FPage).arg(FPages));
    FPrevPage->setEnabled(FPage > 1);
    FNextPage->setEnabled(FPage < FPages);
}

void TFrameCatalogView::ShowNext() {
    if (FViewerMode == 2) {
        if (FPage < FPages) FViewer->SetPrintPage(FPage + 1);
        return;
    }
    TCatalogItem* next = NextItem(FocusedItem(), true);
    if (next) SetFocusedItem(next);
}

void TFrameCatalogView::ShowPrev() {
    if (FViewerMode == 2) {
        if (FPage > 1) FViewer->SetPrintPage(FPage - 1);
        return;
    }
    TCatalogItem* prev = PrevItem(FocusedItem(), true);
    if (prev) SetFocusedItem(prev);
}

}  // namespace fv
