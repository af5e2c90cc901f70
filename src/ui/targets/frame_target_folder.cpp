#include "platform/stall_activity.h"
#include "ui/targets/frame_target_folder.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <map>
#include <set>

#include "library/album.h"
#include "library/folder.h"
#include "ui/common_images.h"
#include "ui/targets/frame_target_commands.h"
#include "ui/targets/frame_target_events.h"

namespace fv {

namespace {
constexpr int kAlbumRole = Qt::UserRole;
}  // namespace

TFrameTargetFolder::TFrameTargetFolder(QWidget* parent) : TCustomFrameBase(parent) {
    FTree = new QTreeWidget(Body());
    FTree->setObjectName("TVFolder");
    FTree->setHeaderHidden(true);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);  // read-only except while renaming
    FTree->setMouseTracking(true);
    FTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FTree, &QTreeWidget::itemSelectionChanged, this, &TFrameTargetFolder::OnSelection);
    connect(FTree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* n, int) { OnItemChanged(n); });
    connect(FTree, &QTreeWidget::customContextMenuRequested, this, &TFrameTargetFolder::OnContextMenu);
    // photos dropped on an album or tag join it
    FTree->viewport()->setAcceptDrops(true);
    FTree->viewport()->installEventFilter(this);

    FMenu = new QMenu(this);
    FMenu->setObjectName("FolderPopupMenu");
    auto add = [this](const char* name, const QString& caption, std::function<void()> fn) {
        return AddMenuCommand(FMenu, name, caption, std::move(fn));
    };
    add("AcFolderCreateNew", QStringLiteral("新規作成"), [this] { CreateNew(FMenuNode); });
    add("AcFolderCreateNewRoot", QStringLiteral("新規作成２"), [this] { CreateNewRoot(); });
    add("AcFolderRename", QStringLiteral("名前の変更"), [this] { BeginRename(FMenuNode); });
    add("AcFolderTrash", QStringLiteral("ゴミ箱へ"), [this] { DeleteNode(FMenuNode); });
    FMenu->addSeparator();
    add("AcAlbumAddCalendar", QStringLiteral("カレンダーへ登録"), [this] { RegisterInCalendar(FMenuNode, true); });
    add("AcAlbumDelCalendar", QStringLiteral("カレンダーから外す"), [this] { RegisterInCalendar(FMenuNode, false); });
    FMenu->addSeparator();
    add("ACFolderExpand", QStringLiteral("展開"), [this] { ExpandAll(FMenuNode, true); });
    add("AcFolderCollapse", QStringLiteral("折りたたむ"), [this] { ExpandAll(FMenuNode, false); });
    add("AcFolderUpdate", QStringLiteral("更新"), [this] { Refresh(); });

    // the same commands from the keyboard, on the current node
    TTreeKeys keys;
    keys.Menu = [this](QTreeWidgetItem* node, const QPoint& pos) { OpenMenu(node, pos); };
    keys.Rename = [this](QTreeWidgetItem* node) {
        PrepareMenu(node);
        if (Action("AcFolderRename")->isEnabled()) BeginRename(node);
    };
    keys.Delete = [this](QTreeWidgetItem* node) {
        PrepareMenu(node);
        if (Action("AcFolderTrash")->isEnabled()) DeleteNode(node);
    };
    InstallTreeKeys(FTree, std::move(keys));

    FRefreshTimer.setObjectName("FolderTreeRefreshTimer");  // for the stall log
    FRefreshTimer.setSingleShot(true);
    FRefreshTimer.setInterval(50);
    connect(&FRefreshTimer, &QTimer::timeout, this, [this] {
        TStallActivity mark("FolderTreeRefresh");
        if (!FRenaming) Refresh();
    });
}

TFrameTargetFolder::~TFrameTargetFolder() { Subscribe(false); }

void TFrameTargetFolder::resizeEvent(QResizeEvent* e) {
    TCustomFrameBase::resizeEvent(e);
    FTree->setGeometry(Body()->rect());
}

bool TFrameTargetFolder::eventFilter(QObject* watched, QEvent* e) {
    if (watched != FTree->viewport()) return TCustomFrameBase::eventFilter(watched, e);
    switch (e->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // photos join an album: always a copy
            AnswerPhotoDrag(FTree, static_cast<QDropEvent*>(e), e->type() == QEvent::DragEnter, true);
            return true;
        }
        case QEvent::Drop: {
            auto* d = static_cast<QDropEvent*>(e);
            TAlbum* album = AlbumOf(FTree->itemAt(d->position().toPoint()));
            if (album && DropItemsOnAlbum(DroppedItems(d->mimeData()), album)) {
                d->setDropAction(Qt::CopyAction);
                d->accept();
            } else {
                d->ignore();
            }
            return true;
        }
        default: return TCustomFrameBase::eventFilter(watched, e);
    }
}

void TFrameTargetFolder::Subscribe(bool on) {
    const TFolderUpdateEvent event = MakeFolderUpdateEvent<TFrameTargetFolder, &TFrameTargetFolder::OnAlbumEvent>(this);
    if (FSubscribed) TLibraryEvents::Albums().Remove(this, event);
    FSubscribed = false;
    if (on) {
        TLibraryEvents::Albums().Add(this, "TFrameTargetFolder", event);
        FSubscribed = true;
    }
}

bool TFrameTargetFolder::IsTagTree() const { return FRootType == atTags; }

void TFrameTargetFolder::SetRoot(TAlbumList* albums, int rootType) {
    FAlbums = albums;
    FRootType = rootType;
    FRoot = albums ? albums->GetRootAlbum(rootType) : nullptr;
    switch (rootType) {
        case atTags:
            SetTitle(QStringLiteral("タグ"));
            SetTitleIcon(ciTag);
            FDefaultName = "新しいタグ";
            break;
        case atMirabelo:
            SetTitle(QStringLiteral("Mirabelo"));
            SetTitleIcon(ciSiblingAlbum);
            FDefaultName = "新しいフォルダ";
            break;
        case atTray:
            SetTitle(QStringLiteral("トレイ"));
            SetTitleIcon(ciSiblingAlbum);
            FDefaultName = "新しいフォルダ";
            break;
        default:
            SetTitle(QString::fromStdString(AlbumTypeLabel(rootType)));
            SetTitleIcon(ciDiskFolder);
            FDefaultName = "新しいフォルダ";
            break;
    }
    // the tag root's commands speak of tags
    Action("AcFolderCreateNew")->setText(IsTagTree() ? QStringLiteral("新しいタグの作成") : QStringLiteral("新規作成"));
    Action("AcFolderTrash")->setText(IsTagTree() ? QStringLiteral("タグの削除") : QStringLiteral("ゴミ箱へ"));
    Subscribe(FRoot != nullptr);
    FTree->clear();
    Refresh();
    if (FTree->topLevelItemCount() > 0) FTree->topLevelItem(0)->setExpanded(true);
}

QAction* TFrameTargetFolder::Action(const char* name) const { return FMenu->findChild<QAction*>(QString::fromLatin1(name)); }

QString TFrameTargetFolder::NodeText(TAlbum* album) const {
    if (album == FRoot) return Title();
    // the sibling product's albums go by their titles
    if (FRootType == atMirabelo) {
        const std::string title = album->GetTitle();
        if (!title.empty()) return QString::fromStdString(title);
    }
    return QString::fromStdString(album->GetName());
}

TAlbum* TFrameTargetFolder::AlbumOf(QTreeWidgetItem* node) const {
    return node ? static_cast<TAlbum*>(node->data(0, kAlbumRole).value<void*>()) : nullptr;
}

void TFrameTargetFolder::Refresh() {
    ++FUpdating;
    TAlbum* current = dynamic_cast<TAlbum*>(CurrentFolder());
    std::set<TAlbum*> open;
    for (QTreeWidgetItemIterator it(FTree); *it; ++it)
        if ((*it)->isExpanded()) open.insert(AlbumOf(*it));
    const bool first = FTree->topLevelItemCount() == 0;
    FTree->clear();
    if (FRoot) {
        const qreal dpr = devicePixelRatioF();
        const QIcon icon(CommonImage(IsTagTree() ? ciTag : ciSiblingAlbum, 16, dpr));
        // built without recursion: albums nest as deep as the data says
        std::vector<std::pair<TAlbum*, QTreeWidgetItem*>> todo{{FRoot, nullptr}};
        while (!todo.empty()) {
            auto [album, parent] = todo.back();
            todo.pop_back();
            auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FTree);
            node->setText(0, NodeText(album));
            node->setIcon(0, icon);
            node->setData(0, kAlbumRole, QVariant::fromValue<void*>(album));
            const std::vector<TAlbum*> subs = album->GetSubAlbums();
            for (auto it = subs.rbegin(); it != subs.rend(); ++it) todo.push_back({*it, node});
        }
        for (QTreeWidgetItemIterator it(FTree); *it; ++it)
            if (open.count(AlbumOf(*it)) || (first && AlbumOf(*it) == FRoot)) (*it)->setExpanded(true);
        if (QTreeWidgetItem* n = NodeOf(current)) FTree->setCurrentItem(n);
    }
    --FUpdating;
}

QTreeWidgetItem* TFrameTargetFolder::NodeOf(TCustomFolder* folder) const {
    if (!folder) return nullptr;
    for (QTreeWidgetItemIterator it(FTree); *it; ++it)
        if (AlbumOf(*it) == folder) return *it;
    return nullptr;
}

TCustomFolder* TFrameTargetFolder::CurrentFolder() const {
    QTreeWidgetItem* n = FTree->currentItem();
    return n && n->isSelected() ? AlbumOf(n) : nullptr;
}

bool TFrameTargetFolder::Holds(TCustomFolder* folder) const {
    auto* album = dynamic_cast<TAlbum*>(folder);
    if (!album || !FRoot) return false;
    for (int depth = 0; album && depth <= TAlbum::kMaxAlbumDepth + 1; ++depth) {
        if (album == FRoot) return true;
        album = album->GetParentAlbum();
    }
    return false;
}

bool TFrameTargetFolder::SelectFolder(TCustomFolder* folder) {
    if (!Holds(folder)) return false;
    QTreeWidgetItem* n = NodeOf(folder);
    if (!n) {
        Refresh();
        n = NodeOf(folder);
    }
    if (!n) return false;
    ++FUpdating;
    for (QTreeWidgetItem* up = n->parent(); up; up = up->parent()) up->setExpanded(true);
    FTree->setCurrentItem(n);
    n->setSelected(true);
    FTree->scrollToItem(n);
    --FUpdating;
    return true;
}

void TFrameTargetFolder::OnAlbumEvent(TCustomFolder* folder, int, intptr_t) {
    // on the UI thread (the album relay); a burst of events gives one rebuild
    if (!folder || Holds(folder) || !dynamic_cast<TAlbum*>(folder)) FRefreshTimer.start();
}

void TFrameTargetFolder::OnSelection() {
    if (FUpdating) return;
    if (TCustomFolder* f = CurrentFolder()) emit folderChosen(f);
}

QTreeWidgetItem* TFrameTargetFolder::TargetNode(QTreeWidgetItem* node) const {
    if (node) return node;
    if (FTree->currentItem()) return FTree->currentItem();
    return FTree->topLevelItemCount() > 0 ? FTree->topLevelItem(0) : nullptr;
}

TCustomFolder* TFrameTargetFolder::CreateNew(QTreeWidgetItem* node, bool editName) {
    node = TargetNode(node);
    TAlbum* parent = AlbumOf(node);
    if (!parent) return nullptr;
    TCustomFolder* child = CreateChildFolder(parent, FDefaultName);
    if (!child) return nullptr;
    Refresh();
    SelectFolder(child);
    if (editName) BeginRename(NodeOf(child));
    return child;
}

TCustomFolder* TFrameTargetFolder::CreateNewRoot() {
    if (!FRoot || !IsTagTree()) return nullptr;
    QString name = QStringLiteral("新しいタグ");
    if (!FolderDialogs().Input(QStringLiteral("新規作成"), QStringLiteral("作成するタグの名前を入力してください。"), name)) return nullptr;
    name = name.trimmed();
    if (name.isEmpty()) return nullptr;
    TCustomFolder* child = CreateChildFolder(FRoot, name.toStdString());
    if (!child) return nullptr;
    Refresh();
    SelectFolder(child);
    return child;
}

bool TFrameTargetFolder::DeleteNode(QTreeWidgetItem* node) {
    node = TargetNode(node);
    TAlbum* album = AlbumOf(node);
    if (!album) return false;
    const bool wasCurrent = CurrentFolder() == album;
    TAlbum* parent = album->GetParentAlbum();
    if (!DeleteFolderAsked(album, IsTagTree())) return false;
    Refresh();
    // the deleted album was shown: its parent takes its place
    if (wasCurrent && parent && NodeOf(parent)) {
        FTree->setCurrentItem(NodeOf(parent));
        NodeOf(parent)->setSelected(true);
    }
    return true;
}

void TFrameTargetFolder::BeginRename(QTreeWidgetItem* node) {
    node = TargetNode(node);
    if (!node || AlbumOf(node) == FRoot) return;
    ++FUpdating;
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    --FUpdating;
    FRenaming = node;
    FTree->editItem(node);
}

void TFrameTargetFolder::OnItemChanged(QTreeWidgetItem* node) {
    if (FUpdating || node != FRenaming) return;
    CommitRename(node, node->text(0));
}

bool TFrameTargetFolder::CommitRename(QTreeWidgetItem* node, const QString& text) {
    TAlbum* album = AlbumOf(node);
    FRenaming = nullptr;
    if (!album) return false;
    ++FUpdating;
    node->setFlags(node->flags() & ~Qt::ItemIsEditable);
    bool ok = true;
    std::string name = text.trimmed().toStdString();
    if (name != album->GetName()) ok = RenameFolderShown(album, name);
    node->setText(0, NodeText(album));  // the name given, or the old one back
    --FUpdating;
    return ok;
}

void TFrameTargetFolder::ExpandAll(QTreeWidgetItem* node, bool expand) {
    node = TargetNode(node);
    if (!node) return;
    std::vector<QTreeWidgetItem*> todo{node};
    while (!todo.empty()) {
        QTreeWidgetItem* n = todo.back();
        todo.pop_back();
        n->setExpanded(expand);
        for (int i = 0; i < n->childCount(); ++i) todo.push_back(n->child(i));
    }
    FTree->scrollToItem(node);
}

void TFrameTargetFolder::RegisterInCalendar(QTreeWidgetItem* node, bool registered) {
    node = TargetNode(node);
    TAlbum* album = AlbumOf(node);
    if (!album) return;
    // an imported album stands for its linked disk folder: that folder and those of the albums below it
    std::vector<TAlbum*> todo{album};
    bool any = false;
    while (!todo.empty()) {
        TAlbum* a = todo.back();
        todo.pop_back();
        if (TFolder* f = a->GetLinkedFolder()) {
            f->SetCheckState(registered ? csRegistered : csExcluded);
            any = true;
        }
        for (TAlbum* s : a->GetSubAlbums()) todo.push_back(s);
    }
    if (any) emit folderListChanged();
}

void TFrameTargetFolder::PrepareMenu(QTreeWidgetItem* node) {
    TAlbum* album = AlbumOf(node);
    const bool isRoot = album && album == FRoot;
    Action("AcFolderCreateNew")->setEnabled(album != nullptr);
    Action("AcFolderCreateNewRoot")->setVisible(IsTagTree());
    Action("AcFolderRename")->setEnabled(album && !isRoot);
    Action("AcFolderTrash")->setEnabled(album && !isRoot);
    const bool imported = FRootType == atMirabelo;
    Action("AcAlbumAddCalendar")->setVisible(imported);
    Action("AcAlbumDelCalendar")->setVisible(imported);
    Action("AcAlbumAddCalendar")->setEnabled(album && !isRoot);
    Action("AcAlbumDelCalendar")->setEnabled(album && !isRoot);
    const bool children = node && node->childCount() > 0;
    Action("ACFolderExpand")->setEnabled(children);
    Action("AcFolderCollapse")->setEnabled(children);
}

void TFrameTargetFolder::OnContextMenu(const QPoint& pos) { OpenMenu(FTree->itemAt(pos), pos); }

void TFrameTargetFolder::OpenMenu(QTreeWidgetItem* node, const QPoint& pos) {
    // the right-clicked node becomes the chosen one
    if (node && node != FTree->currentItem()) FTree->setCurrentItem(node);
    FMenuNode = node ? node : TargetNode(nullptr);
    PrepareMenu(FMenuNode);
    FMenu->exec(FTree->viewport()->mapToGlobal(pos));
    FMenuNode = nullptr;
}

}  // namespace fv
