// The main window's layout and view settings in the configuration item, and the first-start
// steps that touch the library.
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "library/album.h"
#include "ui/grid/catalog_view.h"
#include "ui/viewer/frame_view.h"
#include "ui/main/main_window.h"

namespace fv {

namespace {

constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;

// the window's place in the record's fields: the normal rectangle and how it is shown
TWindowPlacement PlacementOf(const QWidget& w) {
    TWindowPlacement p;
    p.Length = kWindowPlacementSize;
    p.ShowCmd = w.isMaximized() ? kShowMaximized : w.isMinimized() ? kShowMinimized : kShowNormal;
    p.MinX = p.MinY = p.MaxX = p.MaxY = -1;
    QRect r = w.isMaximized() || w.isMinimized() ? w.normalGeometry() : w.geometry();
    if (!r.isValid()) r = w.geometry();
    p.Left = r.left();
    p.Top = r.top();
    p.Right = r.left() + r.width();
    p.Bottom = r.top() + r.height();
    return p;
}

}  // namespace

// A record that is not a whole placement, has an empty or absurd rectangle, or lies on no
// screen is ignored: the window keeps its design place.
bool PlacementUsable(const TWindowPlacement& p, const std::vector<QRect>& screens) {
    if (p.Length != kWindowPlacementSize) return false;
    if (p.ShowCmd < 0 || p.ShowCmd > 11) return false;
    int64_t w = int64_t(p.Right) - p.Left, h = int64_t(p.Bottom) - p.Top;
    if (w <= 0 || h <= 0 || w > 100000 || h > 100000) return false;
    QRect r(p.Left, p.Top, static_cast<int>(w), static_cast<int>(h));
    for (const QRect& s : screens)
        if (s.intersects(r)) return true;
    return false;
}

void AddSampleTags(TAlbumList* albums) {
    TAlbum* root = albums ? albums->GetRootAlbum(atTags) : nullptr;
    if (!root) throw ECorvaEngineError("タグのルートがありません。");
    for (const char* name : {"家族", "友達", "旅行", "イベント", "花", "紅葉", "桜", "お祭り"})
        if (!albums->FindChildAlbumFromName(root, name)) albums->CreateAlbum(root, atTags, "", name);
}

void TFolvaneMain2::SaveWindowSettings(TFolvaneConfigItem* config) {
    if (!config) config = CorvaConfig();
    if (!config) return;
    config->SetWindowPlacement(PlacementOf(*this));
    // a panel narrower than the least useful width is not kept
    if (FTargetPanel->isVisible() && FTargetPanel->width() >= kMinTargetPanelWidth) config->SetTargetPanelW(FTargetPanel->width());
    config->SetSortType(static_cast<uint8_t>(FCatalog->SortType()));
    config->SetSortUp(Action("AcSortUp")->isChecked());
    config->SetThumbnailSize(static_cast<uint8_t>(FCatalog->ThumbSize()));
    config->SetCursorMode(static_cast<uint8_t>(FCatalog->Viewer()->CursorMode()));
    config->SetViewImageSize(static_cast<uint8_t>(FCatalog->Viewer()->SizeMode()));
    config->SetAlwaysShowTitleRow2(Action("AcShowAlwaysTitleRow")->isChecked());
    config->SetShowAddrBar(Action("AcDebugShowAddrBar")->isChecked());
    config->SetShowMainMenu(Action("AcDebugShowMainMenu")->isChecked());
}

void TFolvaneMain2::LoadWindowSettings(TFolvaneConfigItem* config) {
    if (!config) config = CorvaConfig();
    if (!config) return;
    TWindowPlacement p = config->GetWindowPlacement();
    std::vector<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) screens.push_back(s->availableGeometry());
    if (PlacementUsable(p, screens)) {
        setGeometry(p.Left, p.Top, p.Right - p.Left, p.Bottom - p.Top);
        ApplyMinimumSize();
        if (p.ShowCmd == kShowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
    }
    int w = config->GetTargetPanelW();
    // a stored width at or below the least useful one is ignored: the design width stays
    if (w > kMinTargetPanelWidth) {
        FTargetPanelWidth = w;
        ApplyTargetPanelWidth();
    }

    FCatalog->SetSortType(config->GetSortType());
    if (FCatalog->SortType() == 0) {
        Action("AcSortName")->setChecked(true);
    } else {
        FCatalog->SetSortType(2);
        Action("AcSortExifDate")->setChecked(true);
    }
    bool up = config->GetSortUp();
    FCatalog->SetAscending(up);
    Action(up ? "AcSortUp" : "AcSortDown")->setChecked(true);
    int size = config->GetThumbnailSize();
    FCatalog->SetThumbSize(std::clamp(size, 80, 240));

    // the viewer always starts in the drag mode; only fit and 1:1 are kept
    FCatalog->Viewer()->SetCursorMode(vcmDrag);
    Action("AcImageMouseDrag")->setChecked(true);
    int viewSize = config->GetViewImageSize();
    if (viewSize != vsmFitShrink && viewSize != vsmActual) viewSize = vsmFitShrink;
    FCatalog->Viewer()->SetSizeMode(viewSize);
    Action(viewSize == vsmActual ? "AcImageOriginalSize" : "AcImageFitWindow")->setChecked(true);

    bool group = config->GetAlwaysShowTitleRow2();
    FCatalog->SetAlwaysGroup(group);
    Action("AcShowAlwaysTitleRow")->setChecked(group);
    Action("AcOptionDontCheckNetwork")->setChecked(config->GetDontCheckNetwork());
    Action("AcDebugShowAddrBar")->setChecked(FDebugMode && config->GetShowAddrBar());
    bool menu = config->GetShowMainMenu();
    Action("AcDebugShowMainMenu")->setChecked(menu);
    ShowMenuBar(menu);
}

}  // namespace fv
