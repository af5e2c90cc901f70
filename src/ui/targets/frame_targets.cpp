#include "ui/targets/frame_targets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

#include "library/calendar.h"
#include "ui/targets/calendar_grid.h"
#include "library/library_engine.h"
#include "ui/targets/frame_target_calendar.h"
#include "ui/targets/frame_target_directory.h"
#include "ui/targets/frame_target_events.h"
#include "ui/targets/frame_target_folder.h"
#include "library/album.h"

namespace fv {

// The grip above the tag frame: dragging it gives the tag frame more or less of the column.
class TSplitGrab : public QWidget {
public:
    explicit TSplitGrab(QWidget* parent) : QWidget(parent) {
        setObjectName("FSplGroup");
        setCursor(Qt::SizeVerCursor);
    }
    std::function<void(int dy)> OnDrag;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        if (!isEnabled()) return;
        // a row of raised dots in the middle
        p.setRenderHint(QPainter::Antialiasing);
        const int cy = height() / 2;
        for (int i = -3; i <= 3; ++i) {
            const QPointF c(width() / 2.0 + i * 5, cy);
            p.setPen(Qt::NoPen);
            p.setBrush(palette().color(QPalette::Light));
            p.drawEllipse(c + QPointF(-0.5, -0.5), 1.2, 1.2);
            p.setBrush(palette().color(QPalette::Dark));
            p.drawEllipse(c + QPointF(0.5, 0.5), 1.2, 1.2);
        }
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) FStartY = e->globalPosition().y();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!(e->buttons() & Qt::LeftButton) || !OnDrag) return;
        const qreal y = e->globalPosition().y();
        const int dy = qRound(y - FStartY);
        if (dy == 0) return;
        FStartY = y;
        OnDrag(dy);
    }

private:
    qreal FStartY = 0;
};

namespace {
constexpr int kSplitterHeight = 6;
constexpr int kMinTagHeight = 50;
// the active frame keeps at least its title and a few rows
constexpr int kMinFillBody = 60;
}  // namespace

TFrameTargetsEx::TFrameTargetsEx(QWidget* parent) : QWidget(parent) {
    setObjectName("FrameTargetsEx");
    FTargetCalendar = new TFrameTargetCalendar(this);
    FTargetCalendar->setObjectName("FTargetCalendar");
    FFrames[tkCalendar] = FTargetCalendar;
    connect(FTargetCalendar, &TFrameTargetCalendar::folderChosen, this, &TFrameTargetsEx::FolderChosenByFrame);
    connect(FTargetCalendar, &TFrameTargetCalendar::dateChosen, this, &TFrameTargetsEx::dateChosen);

    FTargetDirectory = new TFrameTargetDirectory(this);
    FTargetDirectory->setObjectName("FTargetDirectory");
    FFrames[tkDirectory] = FTargetDirectory;
    connect(FTargetDirectory, &TFrameTargetDirectory::folderChosen, this, &TFrameTargetsEx::FolderChosenByFrame);
    connect(FTargetDirectory, &TFrameTargetDirectory::folderListChanged, this, &TFrameTargetsEx::folderListChanged);
    connect(FTargetDirectory, &TFrameTargetDirectory::calendarRegistration, this, &TFrameTargetsEx::calendarRegistration);

    FTargetMirabelo = new TFrameTargetFolder(this);
    FTargetMirabelo->setObjectName("FTargetMirabelo");
    FTargetMirabelo->SetTitle(QStringLiteral("Mirabelo"));
    FTargetMirabelo->hide();  // until such storage is known to exist
    FFrames[tkMirabelo] = FTargetMirabelo;
    FTargetGroup = new TFrameTargetFolder(this);
    FTargetGroup->setObjectName("FTargetGroup");
    FTargetGroup->SetTitle(QStringLiteral("タグ"));
    FTargetGroup->SetOpenCloseStyle(false);  // arrows: it opens upwards from the bottom
    FTargetGroup->SetFrameAlign(TCustomFrameBase::faBottom);
    FFrames[tkNone] = FTargetGroup;
    for (TFrameTargetFolder* f : {FTargetMirabelo, FTargetGroup}) {
        connect(f, &TFrameTargetFolder::folderChosen, this, &TFrameTargetsEx::FolderChosenByFrame);
        connect(f, &TFrameTargetFolder::folderListChanged, this, &TFrameTargetsEx::folderListChanged);
    }

    FSplGroup = new TSplitGrab(this);
    FSplGroup->OnDrag = [this](int dy) { SetTagHeight(FTagHeight - dy); };

    for (int kind = tkDirectory; kind <= tkCalendar; ++kind) {
        TCustomFrameBase* f = FFrames[kind];
        if (!f) continue;
        // a click on a frame's title makes it the active frame instead of toggling it alone
        f->SetCanToggle([this, kind] {
            Activate(kind, true);
            return false;
        });
    }
    // the tag frame opens and closes by itself; opened, it shows its chosen tag
    connect(FTargetGroup, &TCustomFrameBase::expandedChanged, this, [this](bool open) {
        Relayout();
        if (open && !FQuiet && FTargetGroup->CurrentFolder()) FolderChosenByFrame(FTargetGroup->CurrentFolder());
    });
    Activate(tkCalendar, false);
}

TFrameTargetsEx::~TFrameTargetsEx() { Finish(); }

QWidget* TFrameTargetsEx::Splitter() const { return FSplGroup; }

TCustomFrameBase* TFrameTargetsEx::FrameOf(int kind) const {
    return kind >= 0 && kind <= tkCalendar ? FFrames[kind] : nullptr;
}

void TFrameTargetsEx::Setup() {
    TLibraryEvents::Install();
    FTargetCalendar->SetCalendar(CorvaCalendars());
    FTargetDirectory->SetFolderList(CorvaFolders());
    FTargetDirectory->SetTops();
    FTargetMirabelo->SetRoot(CorvaAlbums(), atMirabelo);
    FTargetGroup->SetRoot(CorvaAlbums(), atTags);
    FTargetGroup->SetExpanded(true);
    FShownFolder = nullptr;
    Activate(tkCalendar, false);
}

void TFrameTargetsEx::Finish() {
    if (FTargetCalendar) FTargetCalendar->SetCalendar(nullptr);
    if (FTargetDirectory) {
        FTargetDirectory->SetActive(false);
        FTargetDirectory->SetFolderList(nullptr);
    }
    if (FTargetMirabelo) FTargetMirabelo->SetRoot(nullptr, atMirabelo);
    if (FTargetGroup) FTargetGroup->SetRoot(nullptr, atTags);
    FShownFolder = nullptr;
}

void TFrameTargetsEx::SetMirabeloExists(bool on) {
    FMirabeloExists = on;
    Relayout();
}

void TFrameTargetsEx::SetTagHeight(int h) {
    const int limit = qMax(kMinTagHeight, height() - 3 * 24 - kSplitterHeight - kMinFillBody);
    FTagHeight = qBound(kMinTagHeight, h, limit);
    Relayout();
}

void TFrameTargetsEx::ShowFrame(int targetKind) {
    if (targetKind == tkNone) {
        if (FFrames[tkNone]) FFrames[tkNone]->SetExpanded(true);
        return;
    }
    if (!FrameOf(targetKind)) return;
    if (targetKind == tkMirabelo && !FMirabeloExists) return;
    Activate(targetKind, true);
}

void TFrameTargetsEx::Activate(int kind, bool showFolder) {
    if (!FrameOf(kind)) return;
    setUpdatesEnabled(false);
    FActiveKind = kind;
    for (int k = tkDirectory; k <= tkCalendar; ++k) {
        TCustomFrameBase* f = FFrames[k];
        if (!f) continue;
        const bool active = k == kind;
        f->SetTitleEnabled(!active);
        f->SetFrameAlign(active ? TCustomFrameBase::faClient : TCustomFrameBase::faTop);
        f->SetExpanded(active);
    }
    FTargetDirectory->SetActive(kind == tkDirectory);
    Relayout();
    setUpdatesEnabled(true);
    if (!showFolder) return;
    TCustomFolder* folder = nullptr;
    if (kind == tkCalendar) folder = FTargetCalendar->CurrentFolder();
    if (kind == tkDirectory) folder = FTargetDirectory->CurrentFolder();
    if (kind == tkMirabelo) folder = FTargetMirabelo->CurrentFolder();
    if (folder) FolderChosenByFrame(folder);
}

void TFrameTargetsEx::FolderChosenByFrame(TCustomFolder* folder) {
    if (!folder) return;
    const bool kindChanged = !FShownFolder || FShownFolder->GetCategory() != folder->GetCategory();
    FShownFolder = folder;
    if (kindChanged) emit filterResetRequested();
    emit folderChosen(folder);
}

void TFrameTargetsEx::SelectFolder(TCustomFolder* folder) {
    if (!folder) return;
    switch (folder->GetCategory()) {
        case 3:
            if (FTargetCalendar->SelectFolder(folder)) {
                Activate(tkCalendar, false);
                FShownFolder = folder;
            }
            break;
        case 1:
            if (FTargetDirectory->SelectFolder(folder)) {
                Activate(tkDirectory, false);
                FShownFolder = folder;
            }
            break;
        case 2:
            // by the root the album hangs under: an imported album or a tag
            if (FTargetMirabelo->Holds(folder) && FMirabeloExists) {
                Activate(tkMirabelo, false);
                FTargetMirabelo->SelectFolder(folder);
                FShownFolder = folder;
            } else if (FTargetGroup->Holds(folder)) {
                FQuiet = true;
                FTargetGroup->SetExpanded(true);
                FQuiet = false;
                FTargetGroup->SelectFolder(folder);
                FShownFolder = folder;
            }
            break;
        default: break;
    }
}

std::vector<QWidget*> TFrameTargetsEx::FocusStops() const {
    std::vector<TCustomFrameBase*> frames;
    for (TCustomFrameBase* f : FFrames)
        if (f && f->isVisible()) frames.push_back(f);
    // in the order they sit on screen, whichever is active
    std::stable_sort(frames.begin(), frames.end(), [](TCustomFrameBase* a, TCustomFrameBase* b) { return a->y() < b->y(); });
    std::vector<QWidget*> stops;
    auto add = [&stops](QWidget* w) {
        if (w && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) stops.push_back(w);
    };
    for (TCustomFrameBase* f : frames) {
        if (f->TitleEnabled()) add(f);
        if (!f->Expanded()) continue;
        if (f == FTargetCalendar) {
            add(FTargetCalendar->Tree());
            add(FTargetCalendar->Grid());
        } else if (f == FTargetDirectory) {
            add(FTargetDirectory->Tree());
        } else {
            add(static_cast<TFrameTargetFolder*>(f)->Tree());
        }
    }
    return stops;
}

void TFrameTargetsEx::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Relayout();
}

void TFrameTargetsEx::Relayout() {
    if (FLayingOut) return;
    FLayingOut = true;
    const int w = width(), h = height();
    TCustomFrameBase* tags = FFrames[tkNone];
    if (FFrames[tkMirabelo]) FFrames[tkMirabelo]->setVisible(FMirabeloExists);
    // the order from the top: the frames above the active one, the active one filling, the frames
    // that move below it, then the splitter and the tag frame
    std::vector<TCustomFrameBase*> above, below;
    TCustomFrameBase* fill = FrameOf(FActiveKind == tkNone ? -1 : FActiveKind);
    const int order[3] = {tkCalendar, tkDirectory, tkMirabelo};
    bool passed = false;
    for (int k : order) {
        TCustomFrameBase* f = FFrames[k];
        if (f == fill) {
            passed = true;
            continue;
        }
        if (!f || f->isHidden()) continue;
        (passed ? below : above).push_back(f);
    }
    // with no active frame (the tags) every frame sits at the top and the tag frame fills
    if (!fill) {
        above.insert(above.end(), below.begin(), below.end());
        below.clear();
    }
    int fixed = 0;
    for (TCustomFrameBase* f : above) fixed += f->TitleHeight();
    for (TCustomFrameBase* f : below) fixed += f->TitleHeight();
    const bool tagsOpen = tags && tags->Expanded();
    int tagH = 0;
    if (tags) tagH = tagsOpen ? FTagHeight : tags->TitleHeight();
    const int splH = tagsOpen && fill ? kSplitterHeight : 0;
    int fillH = h - fixed - tagH - splH;
    if (fill && tagsOpen) {
        // too little room: the tag frame gives way, down to its least height
        const int want = fill->TitleHeight() + kMinFillBody;
        if (fillH < want) {
            tagH = qMax(kMinTagHeight, tagH - (want - fillH));
            fillH = h - fixed - tagH - splH;
        }
    }
    int y = 0;
    for (TCustomFrameBase* f : above) {
        f->setGeometry(0, y, w, f->TitleHeight());
        y += f->TitleHeight();
    }
    if (fill) {
        fill->setGeometry(0, y, w, qMax(fill->TitleHeight(), fillH));
        y += qMax(0, fillH);
    }
    for (TCustomFrameBase* f : below) {
        f->setGeometry(0, y, w, f->TitleHeight());
        y += f->TitleHeight();
    }
    FSplGroup->setVisible(splH > 0);
    FSplGroup->setEnabled(splH > 0);
    if (splH > 0) {
        FSplGroup->setGeometry(0, y, w, splH);
        y += splH;
    }
    if (tags) {
        const int th = fill ? tagH : qMax(tags->TitleHeight(), h - y);
        tags->setGeometry(0, qMax(y, h - th), w, th);
    }
    // the month grid only while the tag frame leaves it the room
    FTargetCalendar->SetGridVisible(!tagsOpen);
    FLayingOut = false;
}

}  // namespace fv
