#pragma once
// The directory frame of the left column: the folders of this machine under the home folder, the
// mounted volumes and "/", read lazily (a node's subfolders are listed off the UI thread the first
// time it opens). Choosing a node shows its library folder; the update timer marks the visible nodes
// whose folders are registered in the calendar or hold new photos.
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/custom_folder.h"
#include "platform/fs.h"
#include "ui/skin/custom_frame_base.h"

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace fv {

class TFolderTreeList;

// one top node of the tree: its caption and path
struct TDirectoryTop {
    std::string Caption;
    std::string Path;
};
// home first, then the mounted volumes a user keeps photos on (removable, remote, optical, or mounted
// under /media, /run/media or /mnt), then "/"
std::vector<TDirectoryTop> DirectoryTops(const std::string& home, const std::vector<TMountEntry>& mounts);
// the subfolders of a directory, sorted by name ignoring case; hidden ones left out
std::vector<std::string> ListSubdirectories(const std::string& path);

class TFrameTargetDirectory : public TCustomFrameBase {
    Q_OBJECT
public:
    // the nodes' marks (a bit set in the item's data)
    enum : int { dmRegistered = 1, dmMarked = 2 };

    explicit TFrameTargetDirectory(QWidget* parent = nullptr);
    ~TFrameTargetDirectory() override;

    // the library folders the nodes link to (none: the nodes show no folder)
    void SetFolderList(TFolderTreeList* list) { FFolders = list; }
    TFolderTreeList* FolderList() const { return FFolders; }
    // may a folder be shown (the music dialog refuses some); unset: all may
    void SetCanShow(std::function<bool(TCustomFolder*)> fn) { FCanShow = std::move(fn); }
    // rebuilds the top nodes (tops empty: the machine's own)
    void SetTops(const std::vector<TDirectoryTop>& tops = {});

    QTreeWidget* Tree() const { return FTree; }
    // the selected node's path (empty: none)
    std::string CurrentPath() const;
    // the selected node's library folder, found or created (none for a vanished directory)
    TCustomFolder* CurrentFolder();
    // selects the node of a path, opening the nodes above it (listed at once); false when the path
    // lies under no top node or a directory on the way is missing. Silent.
    bool SelectPath(const std::string& path);
    bool SelectFolder(TCustomFolder* folder);
    QTreeWidgetItem* NodeOfPath(const std::string& path) const;
    // lists a node's subfolders now (expand-all, paths from outside) or off the UI thread
    void LoadChildren(QTreeWidgetItem* node, bool now);
    bool ChildrenLoaded(QTreeWidgetItem* node) const;
    // the listings still running
    int PendingListings() const { return FPending; }

    // the commands of the context menu, on a node
    void RegisterInCalendar(QTreeWidgetItem* node, bool registered);
    void ExpandAll(QTreeWidgetItem* node, bool expand);
    void Reload(QTreeWidgetItem* node);
    // a new subfolder "新しいフォルダ" (with "(2)", ... when taken), listed and chosen
    TCustomFolder* CreateFolderUnder(QTreeWidgetItem* node);
    // one pass of the update timer over the visible nodes; answers how many changed their marks
    int UpdateVisibleNodes();
    // the marks a node shows
    int NodeMarks(QTreeWidgetItem* node) const;
    QMenu* PopupMenu() const { return FMenu; }
    // the timer runs while the frame is active and open
    void SetActive(bool on);

signals:
    void folderChosen(fv::TCustomFolder* folder);
    // check states changed: the library updater follows the registered folders
    void folderListChanged();
    // a folder (with every folder below it) was registered in the calendar or taken out of it: its
    // photos are to be filed or taken out (slow work, for a worker)
    void calendarRegistration(fv::TCustomFolder* folder, bool registered);

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct TListingToken;
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const std::string& caption, const std::string& path);
    void FillChildren(QTreeWidgetItem* node, const std::vector<std::string>& names);
    void OnSelection();
    void OnListed(const std::string& path, const std::vector<std::string>& names);
    void OnContextMenu(const QPoint& pos);
    // the popup for a node at a point of the tree's viewport
    void OpenMenu(QTreeWidgetItem* node, const QPoint& pos);
    void SetMarks(QTreeWidgetItem* node, int marks);
    TCustomFolder* FolderOfPath(const std::string& path, bool create);
    void UpdateTimerState();

    QTreeWidget* FTree = nullptr;
    QMenu* FMenu = nullptr;
    TFolderTreeList* FFolders = nullptr;
    std::function<bool(TCustomFolder*)> FCanShow;
    QTimer FUpdateTimer;
    bool FActive = false;
    int FUpdating = 0;
    int FPending = 0;
    QTreeWidgetItem* FMenuNode = nullptr;
    std::shared_ptr<TListingToken> FToken;
};

}  // namespace fv
