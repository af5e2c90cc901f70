#pragma once
// A tree frame of albums under one root album: the tags, or the albums of the sibling product's
// storage. Every folder command of the trees (create, rename in place, delete, expand, collapse,
// update, calendar registration of imported albums) is on its context menu.
#include <QTimer>
#include <string>

#include "library/custom_folder.h"
#include "ui/skin/custom_frame_base.h"

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace fv {

class TAlbum;
class TAlbumList;

class TFrameTargetFolder : public TCustomFrameBase {
    Q_OBJECT
public:
    explicit TFrameTargetFolder(QWidget* parent = nullptr);
    ~TFrameTargetFolder() override;

    // follows the root album of this type (none detaches); the title, icon and default child name follow
    // the root: tags "タグ" / "新しいタグ", sibling storage "Mirabelo", others their type's label
    void SetRoot(TAlbumList* albums, int rootType);
    TAlbum* Root() const { return FRoot; }
    int RootType() const { return FRootType; }
    bool IsTagTree() const;
    const std::string& DefaultName() const { return FDefaultName; }
    // rebuilds the nodes, keeping what was open and chosen
    void Refresh();

    QTreeWidget* Tree() const { return FTree; }
    QTreeWidgetItem* NodeOf(TCustomFolder* folder) const;
    TAlbum* AlbumOf(QTreeWidgetItem* node) const;
    // the chosen album (none: nothing chosen)
    TCustomFolder* CurrentFolder() const;
    // selects an album of this tree silently; false for any other folder
    bool SelectFolder(TCustomFolder* folder);
    // whether the album hangs under this tree's root
    bool Holds(TCustomFolder* folder) const;

    // the commands, on a node (none: the chosen one)
    TCustomFolder* CreateNew(QTreeWidgetItem* node, bool editName = true);
    TCustomFolder* CreateNewRoot();
    bool DeleteNode(QTreeWidgetItem* node);
    void BeginRename(QTreeWidgetItem* node);
    bool CommitRename(QTreeWidgetItem* node, const QString& name);
    void ExpandAll(QTreeWidgetItem* node, bool expand);
    void RegisterInCalendar(QTreeWidgetItem* node, bool registered);
    QMenu* PopupMenu() const { return FMenu; }
    QAction* Action(const char* name) const;
    // enables the menu's commands for a node, as before the menu opens
    void PrepareMenu(QTreeWidgetItem* node);

signals:
    void folderChosen(fv::TCustomFolder* folder);
    void folderListChanged();

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void OnAlbumEvent(TCustomFolder* folder, int code, intptr_t data);
    void OnSelection();
    void OnItemChanged(QTreeWidgetItem* node);
    void OnContextMenu(const QPoint& pos);
    // the popup for a node (the current one when none) at a point of the tree's viewport
    void OpenMenu(QTreeWidgetItem* node, const QPoint& pos);
    QTreeWidgetItem* TargetNode(QTreeWidgetItem* node) const;
    QString NodeText(TAlbum* album) const;
    void Subscribe(bool on);

    QTreeWidget* FTree = nullptr;
    QMenu* FMenu = nullptr;
    TAlbumList* FAlbums = nullptr;
    TAlbum* FRoot = nullptr;
    int FRootType = -1;
    std::string FDefaultName;
    QTreeWidgetItem* FMenuNode = nullptr;
    QTreeWidgetItem* FRenaming = nullptr;
    int FUpdating = 0;
    bool FSubscribed = false;
    // model events come in bursts: one rebuild after them
    QTimer FRefreshTimer;
};

}  // namespace fv
