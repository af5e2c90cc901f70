#include "ui/targets/frame_target_commands.h"

#include <QTreeWidget>
#include <QDropEvent>
#include <QKeyEvent>
#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include "library/album.h"
#include "library/engine_item_ops.h"
#include "library/folder_tree_list.h"
#include <set>
#include "library/folder.h"
#include "library/engine_folder_ops.h"
#include "library/library_engine.h"
#include "platform/exception.h"

namespace fv {

namespace {
QWidget* DialogParent() { return QApplication::activeWindow(); }

TFolderDialogs QtDialogs() {
    TFolderDialogs d;
    d.Ask = [](const QString& text) {
        return QMessageBox::question(DialogParent(), QApplication::applicationDisplayName(), text,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    d.Error = [](const QString& text) { QMessageBox::critical(DialogParent(), QApplication::applicationDisplayName(), text); };
    d.Input = [](const QString& title, const QString& prompt, QString& value) {
        bool ok = false;
        const QString v = QInputDialog::getText(DialogParent(), title, prompt, QLineEdit::Normal, value, &ok);
        if (ok) value = v;
        return ok;
    };
    d.ChooseFolder = [](const QString& prompt, const QString& start) {
        return QFileDialog::getExistingDirectory(DialogParent(), prompt, start);
    };
    d.OpenFolder = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    return d;
}
}  // namespace

TFolderDialogs& FolderDialogs() {
    static TFolderDialogs dialogs = QtDialogs();
    return dialogs;
}

QString RefusalText(const std::exception& e) {
    const QString all = QString::fromUtf8(e.what());
    const QStringList lines = all.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const QString l = it->trimmed();
        // the engine's wrappers name the operation and the error class; the refusal is the line under them
        static const QRegularExpression className(QStringLiteral("^E[A-Za-z]+$"));
        if (l.endsWith(QStringLiteral("でエラーが発生しました。")) || className.match(l).hasMatch()) continue;
        return l;
    }
    return all.trimmed();
}

QString DeleteQuestion(TCustomFolder* folder, bool isTag) {
    const QString what = isTag ? QStringLiteral("タグ") : QStringLiteral("フォルダ");
    const QString target = QString::fromStdString(isTag ? folder->GetCaption() : folder->GetFullName());
    return QStringLiteral("%1を削除します。\r\n\r\n削除対象\t：%2\r\n\r\n実行してよろしいですか？").arg(what, target);
}

bool DeleteFolderAsked(TCustomFolder* folder, bool isTag) {
    if (!folder) return false;
    try {
        // a refusal before the question: nothing to ask about
        CheckDeleteFolder(folder);
    } catch (const Exception& e) {
        FolderDialogs().Error(RefusalText(e));
        return false;
    }
    if (!FolderDialogs().Ask(DeleteQuestion(folder, isTag))) return false;
    try {
        CorvaEngineDeleteFolder(folder);
        return true;
    } catch (const Exception& e) {
        FolderDialogs().Error(RefusalText(e));
        return false;
    }
}

TCustomFolder* CreateChildFolder(TCustomFolder* parent, const std::string& base) {
    std::string name = base;
    if (auto* album = dynamic_cast<TAlbum*>(parent)) name = UniqueChildName(album, base);
    TCustomFolder* child = nullptr;
    try {
        child = CorvaEngineCreateChild(parent, name);
    } catch (const Exception& e) {
        FolderDialogs().Error(QStringLiteral("フォルダの作成に失敗しました。\r\n\r\n") + RefusalText(e));
        return nullptr;
    }
    if (!child) FolderDialogs().Error(QStringLiteral("フォルダの作成に失敗しました。"));
    return child;
}

bool RenameFolderShown(TCustomFolder* folder, std::string& name) {
    try {
        CorvaEngineRenameFolder(folder, name);
        return true;
    } catch (const Exception& e) {
        const QString why = RefusalText(e);
        const QString head = QStringLiteral("フォルダ名の変更に失敗しました。");
        FolderDialogs().Error(why == head ? head : head + QStringLiteral("\r\n\r\n") + why);
        return false;
    }
}

bool CopyOrMoveFolderAsked(TCustomFolder* folder, bool copy) {
    if (!folder) return false;
    const QString prompt = copy ? QStringLiteral("コピー先のフォルダを指定してください。") : QStringLiteral("移動先のフォルダを指定してください。");
    const QString chosen = FolderDialogs().ChooseFolder(prompt, QString::fromStdString(folder->GetFullName()));
    if (chosen.isEmpty()) return false;
    try {
        TCustomFolder* target = GetFolderFromPath(chosen.toStdString());
        if (copy) CorvaEngineCopyFolder(folder, target);
        else CorvaEngineMoveFolder(folder, target);
        return true;
    } catch (const Exception& e) {
        FolderDialogs().Error(RefusalText(e));
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// drops of photos on the trees

namespace {
const QString kCatalogItemsMime = QStringLiteral("application/x-folvane-catalog-items");
}  // namespace

bool IsPhotoDrop(const QMimeData* mime) { return mime && (mime->hasFormat(kCatalogItemsMime) || mime->hasUrls()); }

std::vector<TCatalogItem*> DroppedItems(const QMimeData* mime) {
    std::vector<TCatalogItem*> items;
    TFolderTreeList* folders = CorvaFolders();
    if (!mime || !folders) return items;
    std::set<TCatalogItem*> seen;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QFileInfo file(url.toLocalFile());
        if (!file.isFile()) continue;
        TFolder* folder = folders->FindFolderByPath(file.absolutePath().toStdString());
        TCatalogItem* item = folder ? folder->FindItem(file.fileName().toStdString()) : nullptr;
        if (item && seen.insert(item).second) items.push_back(item);
    }
    return items;
}

bool DropItemsOnFolder(const std::vector<TCatalogItem*>& items, TCustomFolder* target, bool copy) {
    if (items.empty() || !target) return false;
    const QString word = copy ? QStringLiteral("コピー") : QStringLiteral("移動");
    const QString path = QString::fromStdString(target->GetFullName());
    const QString question =
        QStringLiteral("%1 個のファイルを\r\n\r\n %2へ%3します\r\n\r\nよろしいですか？").arg(items.size()).arg(path, word);
    if (!FolderDialogs().Ask(question)) return false;
    try {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const TItemCopyResult r = copy ? CorvaEngineCopyItems(items, target->GetFullName()) : CorvaEngineMoveItems(items, target->GetFullName());
        QApplication::restoreOverrideCursor();
        if (!r.Failed.empty()) {
            QStringList lines;
            for (const std::string& f : r.Failed) lines << QString::fromStdString(f);
            FolderDialogs().Error(lines.join(QStringLiteral("\r\n")));
        }
        return !r.Done.empty();
    } catch (const Exception& e) {
        QApplication::restoreOverrideCursor();
        FolderDialogs().Error(RefusalText(e));
        return false;
    }
}

bool DropItemsOnAlbum(const std::vector<TCatalogItem*>& items, TAlbum* album) {
    if (items.empty() || !album) return false;
    TItemList list(items.begin(), items.end());
    return CorvaAddItemsToAlbum(album, &list, 0, true, true);
}

QAction* AddMenuCommand(QMenu* menu, const char* name, const QString& caption, std::function<void()> fn) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    QObject::connect(a, &QAction::triggered, menu, std::move(fn));
    return a;
}

void AnswerPhotoDrag(QTreeWidget* tree, QDropEvent* d, bool entering, bool copyOnly) {
    const bool over = entering || tree->itemAt(d->position().toPoint());
    if (!IsPhotoDrop(d->mimeData()) || !over) {
        d->ignore();
    } else if (copyOnly) {
        d->setDropAction(Qt::CopyAction);
        d->accept();
    } else {
        d->acceptProposedAction();
    }
}

// ---------------------------------------------------------------------------------------------
// keys of the trees

int TreeKeyCommand(const QKeyEvent& e, const TTreeKeys& keys) {
    const Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
    switch (e.key()) {
        case Qt::Key_Menu: return keys.Menu ? 1 : 0;
        case Qt::Key_F10: return keys.Menu && mods == Qt::ShiftModifier ? 1 : 0;
        case Qt::Key_F2: return keys.Rename && mods == Qt::NoModifier ? 2 : 0;
        case Qt::Key_Delete: return keys.Delete && mods == Qt::NoModifier ? 3 : 0;
        case Qt::Key_Return:
        case Qt::Key_Enter: return mods == Qt::NoModifier ? 4 : 0;
        default: return 0;
    }
}

namespace {

// Draws the tree's current node, while the tree has the focus, with a frame of its own: two points of
// the text colour with a point of the base colour inside, over the selection's fill or the plain
// background alike (the grid's focus mark). The style's dotted rectangle is left out.
class TTreeFocusMark : public QStyledItemDelegate {
public:
    explicit TTreeFocusMark(QTreeWidget* tree) : QStyledItemDelegate(tree), FTree(tree) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        o.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(p, o, index);
        if (!TreeShowsFocusMark(FTree, index)) return;
        const QColor outer = FTree->palette().color(QPalette::Text), inner = FTree->palette().color(QPalette::Base);
        auto frame = [p](const QRect& f, int w, const QColor& c) {
            p->fillRect(QRect(f.left(), f.top(), f.width(), w), c);
            p->fillRect(QRect(f.left(), f.bottom() - w + 1, f.width(), w), c);
            p->fillRect(QRect(f.left(), f.top() + w, w, f.height() - 2 * w), c);
            p->fillRect(QRect(f.right() - w + 1, f.top() + w, w, f.height() - 2 * w), c);
        };
        frame(option.rect, 2, outer);
        frame(option.rect.adjusted(2, 2, -2, -2), 1, inner);
    }

    // each row has room above and below its text for the frame, so the frame never cuts the glyphs
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 2 * kFramePad);
    }

private:
    static constexpr int kFramePad = 2;
    QTreeWidget* FTree;
};

class TTreeKeyFilter : public QObject {
public:
    TTreeKeyFilter(QTreeWidget* tree, TTreeKeys keys) : QObject(tree), FTree(tree), FKeys(std::move(keys)) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == FTree && e->type() == QEvent::FocusIn) {
            // the node the keys act on comes into view with the focus
            if (QTreeWidgetItem* node = FTree->currentItem()) FTree->scrollToItem(node);
            return false;
        }
        if (o != FTree || (e->type() != QEvent::ShortcutOverride && e->type() != QEvent::KeyPress)) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        const int command = TreeKeyCommand(*k, FKeys);
        if (!command) return false;
        if (e->type() == QEvent::ShortcutOverride) {
            e->accept();  // the key comes to the tree as a key press, not to the window's shortcut
            return true;
        }
        QTreeWidgetItem* node = FTree->currentItem();
        if (!node && FTree->topLevelItemCount() > 0) node = FTree->topLevelItem(0);
        switch (command) {
            case 1: {
                FTree->scrollToItem(node);
                const QPoint pos = node ? FTree->visualItemRect(node).center() : FTree->viewport()->rect().center();
                FKeys.Menu(node, pos);
                break;
            }
            case 2: if (node) FKeys.Rename(node); break;
            case 3: if (node) FKeys.Delete(node); break;
            case 4:
                if (node && (node->childCount() > 0 || node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator))
                    node->setExpanded(!node->isExpanded());
                break;
            default: break;
        }
        return true;
    }

private:
    QTreeWidget* FTree;
    TTreeKeys FKeys;
};

}  // namespace

bool TreeShowsFocusMark(const QTreeWidget* tree, const QModelIndex& index) {
    return tree && tree->hasFocus() && index.isValid() && index == tree->currentIndex();
}

void InstallTreeKeys(QTreeWidget* tree, TTreeKeys keys) {
    if (!tree) return;
    tree->installEventFilter(new TTreeKeyFilter(tree, std::move(keys)));
    tree->setItemDelegate(new TTreeFocusMark(tree));
}

}  // namespace fv
