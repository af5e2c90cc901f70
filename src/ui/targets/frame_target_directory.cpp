#include "ui/targets/frame_target_directory.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QThreadPool>
#include <QTreeWidget>
#include <algorithm>

#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "platform/stall_activity.h"
#include "ui/common_images.h"
#include "ui/targets/frame_target_commands.h"

namespace fv {

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadRole = Qt::UserRole + 1;  // 0 not listed, 1 listing, 2 listed
constexpr int kMarksRole = Qt::UserRole + 2;
constexpr int kVisitedRole = Qt::UserRole + 3;
// expand-all stops after this many nodes (a whole disk is no use in a side tree)
constexpr int kExpandAllLimit = 5000;

std::string PathOf(const QTreeWidgetItem* node) { return node->data(0, kPathRole).toString().toStdString(); }

std::string JoinPath(const std::string& parent, const std::string& name) {
    if (!parent.empty() && parent.back() == '/') return parent + name;
    return parent + "/" + name;
}

bool IsUnder(const std::string& top, const std::string& path) {
    if (top == "/") return !path.empty() && path.front() == '/';
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/');
}

bool IsSystemMount(const std::string& m) {
    static const char* const kSystem[] = {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var", "/tmp", "/usr", "/etc"};
    if (m.rfind("/run/media/", 0) == 0) return false;
    for (const char* s : kSystem) {
        const std::string sys = s;
        if (m == sys || m.rfind(sys + "/", 0) == 0) return true;
    }
    return false;
}

QPixmap NodeIcon(int marks, qreal dpr) {
    QPixmap pm(QSize(qRound(16 * dpr), qRound(16 * dpr)));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    DrawCommonImage(p, 0, 0, ciDiskFolder, 16);
    // registered in the calendar: the calendar badge; new photos: the "new" burst
    if (marks & TFrameTargetDirectory::dmRegistered) DrawCommonImage(p, 7, 7, ciCalendar, 9);
    if (marks & TFrameTargetDirectory::dmMarked) DrawCommonImage(p, 7, 0, ciNewPhotos, 9);
    return pm;
}
}  // namespace

std::vector<TDirectoryTop> DirectoryTops(const std::string& home, const std::vector<TMountEntry>& mounts) {
    std::vector<TDirectoryTop> tops;
    if (!home.empty() && home != "/") tops.push_back({"ホーム", home});
    std::vector<TDirectoryTop> volumes;
    for (const TMountEntry& m : mounts) {
        const std::string& mp = m.MountPoint;
        if (mp.empty() || mp == "/" || mp.front() != '/' || IsSystemMount(mp)) continue;
        const int type = DriveTypeOf(m);
        const bool userPlace = mp.rfind("/media/", 0) == 0 || mp.rfind("/run/media/", 0) == 0 || mp.rfind("/mnt/", 0) == 0 ||
                               mp == "/mnt";
        if (!userPlace && type != DRIVE_REMOVABLE && type != DRIVE_REMOTE && type != DRIVE_CDROM) continue;
        if (!home.empty() && IsUnder(home, mp)) continue;  // found under home anyway
        if (std::any_of(volumes.begin(), volumes.end(), [&](const TDirectoryTop& t) { return t.Path == mp; })) continue;
        const size_t slash = mp.find_last_of('/');
        volumes.push_back({mp.substr(slash + 1), mp});
    }
    std::sort(volumes.begin(), volumes.end(), [](const TDirectoryTop& a, const TDirectoryTop& b) { return a.Path < b.Path; });
    tops.insert(tops.end(), volumes.begin(), volumes.end());
    tops.push_back({"/", "/"});
    return tops;
}

std::vector<std::string> ListSubdirectories(const std::string& path) {
    std::vector<std::string> out;
    const QDir dir(QString::fromStdString(path));
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    out.reserve(static_cast<size_t>(names.size()));
    for (const QString& n : names) out.push_back(n.toStdString());
    return out;
}

// Shared with the listing jobs; read and cleared on the UI thread only, so a job whose frame has gone
// finds it dead before touching it.
struct TFrameTargetDirectory::TListingToken {
    TFrameTargetDirectory* Frame = nullptr;
};

TFrameTargetDirectory::TFrameTargetDirectory(QWidget* parent) : TCustomFrameBase(parent) {
    SetTitle(QStringLiteral("フォルダ"));
    SetTitleIcon(ciDiskFolder);
    FToken = std::make_shared<TListingToken>();
    FToken->Frame = this;
    FTree = new QTreeWidget(Body());
    FTree->setObjectName("DirectoryTree");
    FTree->setHeaderHidden(true);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FTree, &QTreeWidget::itemSelectionChanged, this, &TFrameTargetDirectory::OnSelection);
    connect(FTree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { LoadChildren(node, false); });
    connect(FTree, &QTreeWidget::customContextMenuRequested, this, &TFrameTargetDirectory::OnContextMenu);
    // photos dropped on a folder are copied or moved there
    FTree->viewport()->setAcceptDrops(true);
    FTree->viewport()->installEventFilter(this);
    connect(this, &TCustomFrameBase::expandedChanged, this, [this] { UpdateTimerState(); });
    // the popup and the trash from the keyboard, on the current node
    TTreeKeys keys;
    keys.Menu = [this](QTreeWidgetItem* node, const QPoint& pos) { OpenMenu(node, pos); };
    keys.Delete = [this](QTreeWidgetItem* node) {
        FMenuNode = node;
        if (QAction* trash = FMenu->findChild<QAction*>("AcFolderTrash")) trash->trigger();
        FMenuNode = nullptr;
    };
    InstallTreeKeys(FTree, std::move(keys));

    FMenu = new QMenu(this);
    FMenu->setObjectName("DirectoryPopupMenu");
    auto add = [this](const char* name, const QString& caption, std::function<void()> fn) {
        AddMenuCommand(FMenu, name, caption, std::move(fn));
    };
    add("AcAddCalendar", QStringLiteral("カレンダーへ登録"), [this] { RegisterInCalendar(FMenuNode, true); });
    add("AcDelCalendar", QStringLiteral("カレンダーから外す"), [this] { RegisterInCalendar(FMenuNode, false); });
    FMenu->addSeparator();
    // the disk commands; each re-reads the nodes it changed
    add("AcFolderCreateNew", QStringLiteral("新規作成"), [this] { CreateFolderUnder(FMenuNode); });
    add("AcFolderTrash", QStringLiteral("ゴミ箱へ"), [this] {
        QTreeWidgetItem* parent = FMenuNode ? FMenuNode->parent() : nullptr;
        if (FMenuNode && DeleteFolderAsked(FolderOfPath(PathOf(FMenuNode), true), false) && parent) Reload(parent);
    });
    add("AcFolderCopy", QStringLiteral("コピー"), [this] {
        if (FMenuNode) CopyOrMoveFolderAsked(FolderOfPath(PathOf(FMenuNode), true), true);
    });
    add("AcFolderMove", QStringLiteral("移動"), [this] {
        QTreeWidgetItem* parent = FMenuNode ? FMenuNode->parent() : nullptr;
        if (FMenuNode && CopyOrMoveFolderAsked(FolderOfPath(PathOf(FMenuNode), true), false) && parent) Reload(parent);
    });
    add("AcOpenExploler", QStringLiteral("エクスプローラの起動"), [this] {
        if (FMenuNode) FolderDialogs().OpenFolder(FMenuNode->data(0, kPathRole).toString());
    });
    FMenu->addSeparator();
    add("ACFolderExpand", QStringLiteral("展開"), [this] { ExpandAll(FMenuNode, true); });
    add("AcFolderCollapse", QStringLiteral("折りたたむ"), [this] { ExpandAll(FMenuNode, false); });
    FMenu->addSeparator();
    add("AcFolderUpdate", QStringLiteral("更新"), [this] { Reload(FMenuNode); });

    FUpdateTimer.setObjectName("DirectoryMarksTimer");  // for the stall log
    FUpdateTimer.setInterval(500);
    connect(&FUpdateTimer, &QTimer::timeout, this, [this] {
        if (!isVisible() || !Expanded()) return;
        FUpdateTimer.stop();  // not during its own run
        TStallActivity mark("DirectoryMarks");
        UpdateVisibleNodes();
        UpdateTimerState();
    });
}

TFrameTargetDirectory::~TFrameTargetDirectory() { FToken->Frame = nullptr; }

bool TFrameTargetDirectory::eventFilter(QObject* watched, QEvent* e) {
    if (watched != FTree->viewport()) return TCustomFrameBase::eventFilter(watched, e);
    switch (e->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // copied or moved, as the drop proposes
            AnswerPhotoDrag(FTree, static_cast<QDropEvent*>(e), e->type() == QEvent::DragEnter, false);
            return true;
        }
        case QEvent::Drop: {
            auto* d = static_cast<QDropEvent*>(e);
            QTreeWidgetItem* node = FTree->itemAt(d->position().toPoint());
            TCustomFolder* folder = node ? FolderOfPath(PathOf(node), true) : nullptr;
            // copy unless the drop asks to move
            const bool copy = d->proposedAction() != Qt::MoveAction;
            if (folder && DropItemsOnFolder(DroppedItems(d->mimeData()), folder, copy)) d->acceptProposedAction();
            else d->ignore();
            return true;
        }
        default: return TCustomFrameBase::eventFilter(watched, e);
    }
}

void TFrameTargetDirectory::resizeEvent(QResizeEvent* e) {
    TCustomFrameBase::resizeEvent(e);
    FTree->setGeometry(Body()->rect());
}

void TFrameTargetDirectory::SetTops(const std::vector<TDirectoryTop>& tops) {
    const std::vector<TDirectoryTop> list = tops.empty() ? DirectoryTops(QDir::homePath().toStdString(), ReadMountTable()) : tops;
    ++FUpdating;
    FTree->clear();
    for (const TDirectoryTop& t : list) AddNode(nullptr, t.Caption, t.Path);
    // at start the home folder (the first top) is chosen
    if (FTree->topLevelItemCount() > 0) FTree->setCurrentItem(FTree->topLevelItem(0));
    --FUpdating;
}

QTreeWidgetItem* TFrameTargetDirectory::AddNode(QTreeWidgetItem* parent, const std::string& caption, const std::string& path) {
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FTree);
    node->setText(0, QString::fromStdString(caption));
    node->setToolTip(0, QString::fromStdString(path));
    node->setData(0, kPathRole, QString::fromStdString(path));
    node->setData(0, kLoadRole, 0);
    node->setData(0, kMarksRole, 0);
    node->setIcon(0, NodeIcon(0, devicePixelRatioF()));
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);  // until listed
    return node;
}

bool TFrameTargetDirectory::ChildrenLoaded(QTreeWidgetItem* node) const {
    return node && node->data(0, kLoadRole).toInt() == 2;
}

void TFrameTargetDirectory::LoadChildren(QTreeWidgetItem* node, bool now) {
    if (!node) return;
    const int state = node->data(0, kLoadRole).toInt();
    if (state == 2 || (state == 1 && !now)) return;
    const std::string path = PathOf(node);
    if (now) {
        FillChildren(node, ListSubdirectories(path));
        return;
    }
    node->setData(0, kLoadRole, 1);
    ++FPending;
    std::shared_ptr<TListingToken> token = FToken;
    QThreadPool::globalInstance()->start([token, path] {
        std::vector<std::string> names = ListSubdirectories(path);
        QMetaObject::invokeMethod(
            qApp,
            [token, path, names = std::move(names)] {
                if (token->Frame) token->Frame->OnListed(path, names);
            },
            Qt::QueuedConnection);
    });
}

void TFrameTargetDirectory::OnListed(const std::string& path, const std::vector<std::string>& names) {
    FPending = std::max(0, FPending - 1);
    QTreeWidgetItem* node = NodeOfPath(path);
    // the node may have been re-read or listed at once meanwhile
    if (!node || node->data(0, kLoadRole).toInt() != 1) return;
    FillChildren(node, names);
}

void TFrameTargetDirectory::FillChildren(QTreeWidgetItem* node, const std::vector<std::string>& names) {
    ++FUpdating;
    const bool hadSelection = FTree->currentItem() && FTree->currentItem() != node && node->indexOfChild(FTree->currentItem()) >= 0;
    for (QTreeWidgetItem* c : node->takeChildren()) delete c;
    const std::string path = PathOf(node);
    for (const std::string& n : names) AddNode(node, n, JoinPath(path, n));
    node->setData(0, kLoadRole, 2);
    node->setChildIndicatorPolicy(names.empty() ? QTreeWidgetItem::DontShowIndicatorWhenChildless
                                                : QTreeWidgetItem::ShowIndicator);
    if (hadSelection) FTree->setCurrentItem(node);
    --FUpdating;
}

QTreeWidgetItem* TFrameTargetDirectory::NodeOfPath(const std::string& path) const {
    // the top with the longest path holding it, then down by names through listed nodes
    QTreeWidgetItem* best = nullptr;
    size_t bestLen = 0;
    for (int i = 0; i < FTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* t = FTree->topLevelItem(i);
        const std::string tp = PathOf(t);
        if (IsUnder(tp, path) && (!best || tp.size() > bestLen)) best = t, bestLen = tp.size();
    }
    QTreeWidgetItem* node = best;
    while (node && PathOf(node) != path) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (IsUnder(PathOf(node->child(i)), path)) next = node->child(i);
        node = next;
    }
    return node;
}

bool TFrameTargetDirectory::SelectPath(const std::string& wanted) {
    std::string path = wanted;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    QTreeWidgetItem* node = nullptr;
    size_t bestLen = 0;
    for (int i = 0; i < FTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* t = FTree->topLevelItem(i);
        const std::string tp = PathOf(t);
        if (IsUnder(tp, path) && (!node || tp.size() > bestLen)) node = t, bestLen = tp.size();
    }
    if (!node) return false;
    while (PathOf(node) != path) {
        if (!ChildrenLoaded(node)) LoadChildren(node, true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (IsUnder(PathOf(node->child(i)), path)) next = node->child(i);
        if (!next) return false;
        node = next;
    }
    ++FUpdating;
    for (QTreeWidgetItem* up = node->parent(); up; up = up->parent()) up->setExpanded(true);
    FTree->setCurrentItem(node);
    FTree->scrollToItem(node);
    --FUpdating;
    return true;
}

bool TFrameTargetDirectory::SelectFolder(TCustomFolder* folder) {
    auto* f = dynamic_cast<TFolder*>(folder);
    return f && SelectPath(f->GetFullName());
}

std::string TFrameTargetDirectory::CurrentPath() const {
    QTreeWidgetItem* node = FTree->currentItem();
    return node ? PathOf(node) : std::string();
}

TCustomFolder* TFrameTargetDirectory::FolderOfPath(const std::string& path, bool create) {
    if (!FFolders || path.empty() || !QFileInfo(QString::fromStdString(path)).isDir()) return nullptr;
    return create ? FFolders->FindOrCreateFolderByPath(path) : FFolders->FindFolderByPath(path);
}

TCustomFolder* TFrameTargetDirectory::CurrentFolder() { return FolderOfPath(CurrentPath(), true); }

void TFrameTargetDirectory::OnSelection() {
    if (FUpdating) return;
    TCustomFolder* folder = CurrentFolder();
    if (folder && FCanShow && !FCanShow(folder)) folder = nullptr;
    emit folderChosen(folder);
}

void TFrameTargetDirectory::OnContextMenu(const QPoint& pos) { OpenMenu(FTree->itemAt(pos), pos); }

void TFrameTargetDirectory::OpenMenu(QTreeWidgetItem* node, const QPoint& pos) {
    FMenuNode = node;
    if (!FMenuNode) return;
    const bool exists = QFileInfo(QString::fromStdString(PathOf(FMenuNode))).isDir();
    const bool mayHaveChildren = !ChildrenLoaded(FMenuNode) || FMenuNode->childCount() > 0;
    for (QAction* a : FMenu->actions()) {
        const QString n = a->objectName();
        if (n == "AcAddCalendar" || n == "AcDelCalendar") a->setEnabled(exists && FFolders);
        if (n == "ACFolderExpand" || n == "AcFolderCollapse") a->setEnabled(mayHaveChildren);
    }
    FMenu->exec(FTree->viewport()->mapToGlobal(pos));
    FMenuNode = nullptr;
}

void TFrameTargetDirectory::RegisterInCalendar(QTreeWidgetItem* node, bool registered) {
    if (!node) return;
    TStallActivity mark("CalendarRegister");
    TCustomFolder* folder = FolderOfPath(PathOf(node), true);
    if (!folder) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int state = registered ? csRegistered : csExcluded;
    // the folder and every folder below it, without recursion
    std::vector<TCustomFolder*> todo{folder};
    while (!todo.empty()) {
        TCustomFolder* f = todo.back();
        todo.pop_back();
        f->SetCheckState(state);
        TFolderList subs;
        f->GetSubFolders(subs);
        todo.insert(todo.end(), subs.begin(), subs.end());
    }
    QApplication::restoreOverrideCursor();
    emit calendarRegistration(folder, registered);
    emit folderListChanged();
    UpdateVisibleNodes();
}

void TFrameTargetDirectory::ExpandAll(QTreeWidgetItem* node, bool expand) {
    if (!node) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FTree->setUpdatesEnabled(false);
    std::vector<QTreeWidgetItem*> todo{node};
    int seen = 0;
    while (!todo.empty() && seen < kExpandAllLimit) {
        QTreeWidgetItem* n = todo.back();
        todo.pop_back();
        ++seen;
        if (expand) {
            // never through a link: it may lead back up the tree
            if (n != node && QFileInfo(QString::fromStdString(PathOf(n))).isSymLink()) continue;
            if (!ChildrenLoaded(n)) LoadChildren(n, true);
            if (n->childCount() > 0) n->setExpanded(true);
        } else {
            n->setExpanded(false);
        }
        for (int i = n->childCount() - 1; i >= 0; --i) todo.push_back(n->child(i));
    }
    FTree->setUpdatesEnabled(true);
    FTree->scrollToItem(node);
    QApplication::restoreOverrideCursor();
}

TCustomFolder* TFrameTargetDirectory::CreateFolderUnder(QTreeWidgetItem* node) {
    if (!node) return nullptr;
    TCustomFolder* parent = FolderOfPath(PathOf(node), true);
    if (!parent) return nullptr;
    TCustomFolder* child = CreateChildFolder(parent, "新しいフォルダ");
    if (child) {
        Reload(node);
        SelectPath(child->GetFullName());
    }
    return child;
}

void TFrameTargetDirectory::Reload(QTreeWidgetItem* node) {
    if (!node) return;
    node->setData(0, kLoadRole, 0);
    LoadChildren(node, true);
    if (node->childCount() > 0) node->setExpanded(true);
}

int TFrameTargetDirectory::NodeMarks(QTreeWidgetItem* node) const { return node ? node->data(0, kMarksRole).toInt() : 0; }

void TFrameTargetDirectory::SetMarks(QTreeWidgetItem* node, int marks) {
    node->setData(0, kMarksRole, marks);
    node->setIcon(0, NodeIcon(marks, devicePixelRatioF()));
}

int TFrameTargetDirectory::UpdateVisibleNodes() {
    int changed = 0;
    const QRect view = FTree->viewport()->rect();
    std::vector<QTreeWidgetItem*> todo;
    for (int i = FTree->topLevelItemCount() - 1; i >= 0; --i) todo.push_back(FTree->topLevelItem(i));
    while (!todo.empty()) {
        QTreeWidgetItem* n = todo.back();
        todo.pop_back();
        const QRect r = FTree->visualItemRect(n);
        // a hidden view (tests, a collapsed frame) still visits every open node
        if (!FTree->isVisible() || r.intersects(view)) {
            n->setData(0, kVisitedRole, true);
            TCustomFolder* folder = FolderOfPath(PathOf(n), false);
            int marks = 0;
            if (folder && folder->GetCheckState() == csRegistered) marks |= dmRegistered;
            if (folder && folder->GetMarkedItemCount() > 0) marks |= dmMarked;
            if (marks != NodeMarks(n)) {  // repainted only when the marks change
                SetMarks(n, marks);
                ++changed;
            }
        }
        if (n->isExpanded())
            for (int i = n->childCount() - 1; i >= 0; --i) todo.push_back(n->child(i));
    }
    return changed;
}

void TFrameTargetDirectory::SetActive(bool on) {
    FActive = on;
    UpdateTimerState();
}

void TFrameTargetDirectory::UpdateTimerState() {
    if (FActive && Expanded()) {
        if (!FUpdateTimer.isActive()) FUpdateTimer.start();
    } else {
        FUpdateTimer.stop();
    }
}

}  // namespace fv
