#pragma once
// The folder commands of the side trees (create, rename, delete, copy, move, open in the file browser)
// with their questions and messages, for disk folders, albums and tags alike. The engine checks every
// operation; a refusal is shown to the user in its own words. The dialogs are replaceable so that the
// trees can be driven without a person at the screen.
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "library/custom_folder.h"
#include "library/item_ops.h"

class QAction;
class QDropEvent;
class QMenu;
class QMimeData;
class QTreeWidget;
class QTreeWidgetItem;
class QKeyEvent;
class QPoint;
class QModelIndex;

namespace fv {

class TAlbum;
class TCatalogItem;

struct TFolderDialogs {
    // a Yes/No question; true for Yes
    std::function<bool(const QString& text)> Ask;
    std::function<void(const QString& text)> Error;
    // an input box with its title and prompt; false when cancelled
    std::function<bool(const QString& title, const QString& prompt, QString& value)> Input;
    // a folder dialog with its prompt; empty when cancelled
    std::function<QString(const QString& prompt, const QString& start)> ChooseFolder;
    // opens a directory in the desktop's file browser
    std::function<void(const QString& path)> OpenFolder;
};
// the process-wide dialogs (Qt's boxes unless replaced); UI thread
TFolderDialogs& FolderDialogs();

// the words of a refusal: the last line of the engine's message that says something
QString RefusalText(const std::exception& e);
// "%sを削除します。..." for a tag (its name) or a folder or album (its path)
QString DeleteQuestion(TCustomFolder* folder, bool isTag);

// asks, then deletes (a disk folder goes to the trash); true when it was deleted
bool DeleteFolderAsked(TCustomFolder* folder, bool isTag);
// a new child with a free name made from the base; none (and the error box) on failure
TCustomFolder* CreateChildFolder(TCustomFolder* parent, const std::string& base);
// renames; on failure the error box and false. name out: the name given
bool RenameFolderShown(TCustomFolder* folder, std::string& name);
// a disk folder copied or moved to a folder the user chooses; true when done
bool CopyOrMoveFolderAsked(TCustomFolder* folder, bool copy);

// The photos of a drop (our own catalog items, or files named by a URL list) that the library knows:
// each file is looked up in its library folder; files the library has not listed are left out.
std::vector<TCatalogItem*> DroppedItems(const QMimeData* mime);
// whether a drop carries anything the trees take
bool IsPhotoDrop(const QMimeData* mime);
// "%d 個のファイルを ... %sへ%sします ... よろしいですか？", then the engine copies or moves them; true when done
bool DropItemsOnFolder(const std::vector<TCatalogItem*>& items, TCustomFolder* target, bool copy);
// the photos join the album or tag
bool DropItemsOnAlbum(const std::vector<TCatalogItem*>& items, TAlbum* album);

// A command of a tree's popup: the action (named, for tests and the keys) calls fn when chosen.
QAction* AddMenuCommand(QMenu* menu, const char* name, const QString& caption, std::function<void()> fn);
// Answers a drag over a tree's viewport: photos are taken over a node (anywhere on entering), as the
// drop proposes or, with copyOnly, always as a copy; anything else is refused.
void AnswerPhotoDrag(QTreeWidget* tree, QDropEvent* d, bool entering, bool copyOnly);

// The keys of a side tree while it has the focus: the context-menu key and Shift+F10 open its popup
// at the current node, F2 renames it, Del deletes it, Enter opens or closes it. Inside the tree they
// win over the window's shortcuts of the same keys (which act on the photos). A command left empty
// leaves its key to the window.
struct TTreeKeys {
    std::function<void(QTreeWidgetItem* node, const QPoint& viewportPos)> Menu;
    std::function<void(QTreeWidgetItem* node)> Rename;
    std::function<void(QTreeWidgetItem* node)> Delete;
};
// Also gives the tree its focus mark (a two-tone frame round the current node while the tree has the
// focus, distinct from the selection's fill) and brings the current node into view on focus.
void InstallTreeKeys(QTreeWidget* tree, TTreeKeys keys);
// whether the node of this index carries the focus mark now
bool TreeShowsFocusMark(const QTreeWidget* tree, const QModelIndex& index);
// which command a key press names: 0 none, 1 popup, 2 rename, 3 delete, 4 open or close
int TreeKeyCommand(const QKeyEvent& e, const TTreeKeys& keys);

}  // namespace fv
