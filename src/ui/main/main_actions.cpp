// The main window's command set: every action with its caption, shortcut and handler, the menus,
// the toolbar and the catalog's popup menu, the enabling rules recomputed on idle, and the key
// routing that decides which keys may act as shortcuts.
#include <QActionGroup>
#include <QBoxLayout>
#include <QIconEngine>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <map>

#include "core/config.h"
#include "core/engine.h"
#include "core/startup.h"
#include "core/log.h"
#include "library/album.h"
#include "library/item_ops.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/custom_folder.h"
#include "library/folder.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "library/catalog_updater.h"
#include "platform/stall_activity.h"
#include "ui/grid/catalog_view.h"
#include "ui/common_images.h"
#include "ui/viewer/frame_view.h"
#include "ui/main/main_window.h"
#include "ui/targets/frame_targets.h"

namespace fv {

namespace {

// image numbers of the recycle-bin, tag-removal and delete pictures
constexpr int kImageTrash = 16;
constexpr int kImageRemoveTag = 194;
constexpr int kImageDelete = 117;

bool IsTagFolder(TCustomFolder* f) { return f && f->GetCategory() == fcAlbum && f->GetAlbumType() == atTags; }
bool IsSiblingAlbum(TCustomFolder* f) { return f && f->GetCategory() == fcAlbum && f->GetAlbumType() == atMirabelo; }

void SetState(QAction* a, bool enabled, bool visible) {
    if (a->isEnabled() != enabled) a->setEnabled(enabled);
    if (a->isVisible() != visible) a->setVisible(visible);
}
void SetOn(QAction* a, bool enabled) {
    if (a->isEnabled() != enabled) a->setEnabled(enabled);
}

// An icon whose pictures are made the first time it is drawn: most of the window's icons sit in
// menus that may never open or on buttons hidden until the viewer shows, and decoding and scaling
// them all while the window is built held up the start. Drawn, it is the icon the maker gives.
class TLazyIconEngine : public QIconEngine {
public:
    explicit TLazyIconEngine(std::function<QIcon()> make) : FMake(std::move(make)) {}

    void paint(QPainter* p, const QRect& r, QIcon::Mode mode, QIcon::State state) override {
        Made().paint(p, r, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Made().actualSize(size, mode, state);
    }
    // size in device pixels, as an engine is asked (at ratio 1 the icon asks its engine for exactly that)
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Made().pixmap(size, 1.0, mode, state);
    }
    // size in device pixels for the ratio scale: the icon asks its engine for the size times the ratio
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        if (!(scale > 1.0)) return pixmap(size, mode, state);
        return Made().pixmap(QSize(qRound(size.width() / scale), qRound(size.height() / scale)), scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override { return Made().availableSizes(mode, state); }
    // an icon is only made lazily when there is a picture for it
    bool isNull() override { return false; }
    QIconEngine* clone() const override {
        auto* e = new TLazyIconEngine(FMake);
        e->FIcon = FIcon;
        e->FMade = FMade;
        return e;
    }

private:
    const QIcon& Made() {
        if (!FMade) {
            FIcon = FMake();
            FMade = true;
        }
        return FIcon;
    }
    std::function<QIcon()> FMake;
    QIcon FIcon;
    bool FMade = false;
};

QIcon StyleIcon(QStyle::StandardPixmap p) {
    // one icon per picture, made when first drawn; copies share it
    static std::map<int, QIcon> made;
    auto [it, fresh] = made.emplace(static_cast<int>(p), QIcon());
    if (fresh) it->second = QIcon(new TLazyIconEngine([p] { return QApplication::style()->standardIcon(p); }));
    return it->second;
}

QIcon CommonIcon(int index) {
    if (!HasCommonImage(index)) return QIcon();
    static std::map<int, QIcon> made;
    auto [it, fresh] = made.emplace(index, QIcon());
    if (fresh)
        it->second = QIcon(new TLazyIconEngine([index] {
            QIcon icon;
            icon.addPixmap(CommonImage(index, 16, 1.0));
            icon.addPixmap(CommonImage(index, 16, 2.0));
            return icon;
        }));
    return it->second;
}

}  // namespace

QAction* TFolvaneMain2::AddAction(const char* name, const QString& caption, std::initializer_list<QKeySequence> keys,
                                  std::function<void()> handler, bool checkable) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QString::fromLatin1(name));
    a->setIconText(caption);
    a->setToolTip(caption);
    a->setProperty("caption", caption);
    a->setCheckable(checkable);
    if (keys.size()) a->setShortcuts(QList<QKeySequence>(keys));
    a->setShortcutContext(Qt::WindowShortcut);
    if (handler)
        connect(a, &QAction::triggered, this, [this, name, handler = std::move(handler)] {
            TStallActivity mark(name);  // a stall while a command runs is reported under its action's name
            if (FReady) handler();
        });
    addAction(a);  // the shortcuts work with the menu bar detached too
    FActions[a->objectName()] = a;
    return a;
}

QAction* TFolvaneMain2::Action(const QString& name) const {
    auto it = FActions.find(name);
    return it == FActions.end() ? nullptr : it->second;
}

void TFolvaneMain2::CatalogOperation(int scope, int code) {
    if (FCatalog) FCatalog->Operation(scope, code);
}

void TFolvaneMain2::CreateActions() {
    auto op = [this](int scope, int code) { return [this, scope, code] { CatalogOperation(scope, code); }; };
    auto viewer = [this] { return FCatalog->Viewer(); };

    // file
    AddAction("AcFileRename", QStringLiteral("名前の変更"), {Qt::Key_F2}, nullptr);
    AddAction("AcFileTrash", QStringLiteral("ゴミ箱へ"), {Qt::Key_Delete}, op(0, gopRemove));
    AddAction("AcFileDelete", QStringLiteral("削除"), {QKeySequence(Qt::SHIFT | Qt::Key_Delete)}, op(0, gopDelete));
    AddAction("AcFileCreateNew", QStringLiteral("新規作成"), {QKeySequence(Qt::CTRL | Qt::Key_N)}, nullptr);
    AddAction("AcFileSave", QStringLiteral("別名で保存"), {}, nullptr);
    AddAction("AcFileChangeExifDate", QStringLiteral("撮影日の変更"), {}, nullptr);
    AddAction("AcFileProperty", QStringLiteral("プロパティ"), {QKeySequence(Qt::ALT | Qt::Key_Return)},
              [this] { FCatalog->ShowPropertySheet(); });
    AddAction("AcFileClose", QStringLiteral("閉じる"), {}, [this] { close(); });

    // edit
    AddAction("AcEditCopy", QStringLiteral("コピー"), {QKeySequence(Qt::CTRL | Qt::Key_C)}, op(0, gopCopy));
    AddAction("AcEditMove", QStringLiteral("移動"), {QKeySequence(Qt::CTRL | Qt::Key_X)}, op(0, gopMove));
    AddAction("AcEditRotateR", QStringLiteral("右に回転"), {QKeySequence(Qt::CTRL | Qt::Key_R)}, op(0, gopRotateRight));
    AddAction("AcEditRotateL", QStringLiteral("左に回転"), {QKeySequence(Qt::CTRL | Qt::Key_L)}, op(0, gopRotateLeft));
    AddAction("AcEditRotateNon", QStringLiteral("回転取り消し"), {QKeySequence(Qt::CTRL | Qt::Key_B)},
              op(0, gopOrientationReset))
        ->setToolTip(QStringLiteral("回転・反転を解除します。"));
    AddAction("AcEditMark", QStringLiteral("お気に入り"), {Qt::Key_F11}, op(0, gopFavouriteOn));
    AddAction("AcEditMarkNo", QStringLiteral("お気に入り解除"), {Qt::Key_F12}, op(0, gopFavouriteOff));
    AddAction("AcEditMarkChange", QStringLiteral("お気に入りの切り替え"), {}, op(0, gopFavouriteToggle));
    AddAction("AcImageMarkChange", QStringLiteral("お気に入りの切り替え"), {}, nullptr, true);
    connect(Action("AcImageMarkChange"), &QAction::triggered, this, [this](bool checked) {
        TCatalogItem* item = CurrentItem();
        if (!item || !FReady) return;
        for (TCatalogItem* changed : SetFavourite({item}, checked ? TMarkChange::On : TMarkChange::Off))
            NotifyItemChanged(changed, cuFavourite);
    });
    AddAction("AcEditSelectMark", QStringLiteral("お気に入りを選択"), {QKeySequence(Qt::CTRL | Qt::Key_M)},
              [this] { FCatalog->SelectByKind(glkFavourites); });
    AddAction("AcEditSelectAll", QStringLiteral("全てを選択"), {QKeySequence(Qt::CTRL | Qt::Key_A)},
              [this] { FCatalog->SelectByKind(glkAll); });
    AddAction("AcEditCopyMark", QStringLiteral("お気に入りの写真をコピー"), {QKeySequence(Qt::ALT | Qt::Key_C)}, op(1, gopCopy));
    AddAction("AcEditMoveMark", QStringLiteral("お気に入りの写真を移動"), {QKeySequence(Qt::ALT | Qt::Key_X)}, op(1, gopMove));
    AddAction("AcEditRotateLMark", QStringLiteral("お気に入りの写真を左に回転"), {QKeySequence(Qt::ALT | Qt::Key_L)},
              op(1, gopRotateLeft));
    AddAction("AcEditRotateRMark", QStringLiteral("お気に入りの写真を右に回転"), {QKeySequence(Qt::ALT | Qt::Key_R)},
              op(1, gopRotateRight));
    AddAction("AcEditRotateNonMark", QStringLiteral("お気に入りの写真の回転取り消し"), {QKeySequence(Qt::ALT | Qt::Key_B)},
              op(1, gopOrientationReset));

    // view
    auto* targets = new QActionGroup(this);
    auto showFrame = [this](int kind) {
        return [this, kind] {
            if (FTargets) FTargets->ShowFrame(kind);
        };
    };
    targets->addAction(AddAction("AcShowFolder", QStringLiteral("フォルダを表示"), {Qt::Key_F3}, showFrame(1), true));
    targets->addAction(AddAction("AcShowCalendar", QStringLiteral("カレンダーを表示"), {Qt::Key_F4}, showFrame(3), true));
    targets->addAction(AddAction("AcShowAlbum", QStringLiteral("Folvaneを表示"), {}, showFrame(2), true));
    Action("AcShowAlbum")->setToolTip(QStringLiteral("登録したFolvaneを表示します。"));
    Action("AcShowCalendar")->setChecked(true);
    AddAction("AcShowViewer", QStringLiteral("写真の拡大表示"), {Qt::Key_F6}, [this] { ShowViewer(true); });
    AddAction("AcShowMain", QStringLiteral("写真一覧に戻る"), {Qt::Key_Escape}, [this] {
        if (FToolMode == tmPrint)
            SetToolMode(tmNone);
        else
            ShowViewer(false);
    });
    AddAction("AcJumpFolder", QStringLiteral("写真のフォルダを表示する"), {QKeySequence(Qt::CTRL | Qt::Key_J)}, [this] {
        TCatalogItem* item = CurrentItem();
        if (item && item->GetOwner()) ShowFolder(item->GetOwner());
    });
    AddAction("AcJumpCalendar", QStringLiteral("写真のカレンダーを表示する"), {QKeySequence(Qt::ALT | Qt::Key_J)}, [this] {
        TCatalogItem* item = CurrentItem();
        TCalendarRoot* root = CorvaCalendars();
        if (!item || !root || item->GetShootingDate() <= 0) return;
        TCalendar* day = root->FindOrCreateNode(false, item->GetShootingDate());
        if (day && day->GetFolderKind() == fkCalendarDay) ShowFolder(day);
    });
    AddAction("AcJumpTag", QStringLiteral("写真のタグを表示する"), {}, nullptr);
    FJumpTagMenu = new QMenu(this);
    Action("AcJumpTag")->setMenu(FJumpTagMenu);
    AddAction("AcJumpHistoryPrev", QStringLiteral("履歴を戻る"), {}, [this] { JumpHistory(false); });
    AddAction("AcJumpHistoryNext", QStringLiteral("履歴を進む"), {}, [this] { JumpHistory(true); });

    auto* sortGroup = new QActionGroup(this);
    sortGroup->addAction(AddAction("AcSortName", QStringLiteral("ファイル名"), {}, [this] { FCatalog->SetSortType(0); }, true));
    sortGroup->addAction(AddAction("AcSortExifDate", QStringLiteral("撮影日時"), {}, [this] {
        FCatalog->SetSortType(2);
        ReadShootingDatesIfNeeded();
    }, true));
    Action("AcSortExifDate")->setChecked(true);
    auto* orderGroup = new QActionGroup(this);
    orderGroup->addAction(AddAction("AcSortUp", QStringLiteral("昇順で整列"), {}, [this] { FCatalog->SetAscending(true); }, true));
    orderGroup->addAction(AddAction("AcSortDown", QStringLiteral("降順で整列"), {}, [this] { FCatalog->SetAscending(false); }, true));
    Action("AcSortUp")->setChecked(true);
    auto* sizeGroup = new QActionGroup(this);
    const std::pair<const char*, int> sizes[] = {
        {"AcCsSmall2", 80}, {"AcCsSmall", 120}, {"AcCsMiddle", 160}, {"AcCsLarge", 200}, {"AcCsLarge2", 240}};
    for (auto [name, size] : sizes) {
        QAction* a = AddAction(name, QStringLiteral("%1 x %1").arg(size), {}, [this, size] { FCatalog->SetThumbSize(size); }, true);
        a->setData(size);
        sizeGroup->addAction(a);
    }
    AddAction("AcShowAlwaysTitleRow", QStringLiteral("常に撮影日でグループ化する"), {QKeySequence(Qt::CTRL | Qt::Key_G)}, nullptr, true);
    connect(Action("AcShowAlwaysTitleRow"), &QAction::toggled, this, [this](bool on) {
        FCatalog->SetAlwaysGroup(on);
        ReadShootingDatesIfNeeded();
    });
    Action("AcShowAlwaysTitleRow")->setChecked(true);
    AddAction("AcShowMarkOnly", QStringLiteral("お気に入り"), {}, nullptr, true);
    connect(Action("AcShowMarkOnly"), &QAction::triggered, this, [this](bool on) { SetMarkOnly(on); });
    AddAction("AcShowLocalSearch", QStringLiteral("検索"), {QKeySequence(Qt::CTRL | Qt::Key_F)}, nullptr);
    AddAction("AcShowUpdate", QStringLiteral("更新"), {Qt::Key_F5}, [this] { ShowUpdate(); });

    // photo view
    AddAction("AcImageAutoCont", QStringLiteral("自動補正"), {}, nullptr, true);
    connect(Action("AcImageAutoCont"), &QAction::triggered, this, [this](bool on) { AutoContChanged(on); });
    auto* sizeModes = new QActionGroup(this);
    sizeModes->addAction(AddAction("AcImageOriginalSize", QStringLiteral("等倍表示"), {Qt::Key_F7}, [this, viewer] {
        viewer()->SetSizeMode(vsmActual);
        viewer()->SetCursorMode(vcmDrag);
        Action("AcImageMouseDrag")->setChecked(true);
    }, true));
    sizeModes->addAction(AddAction("AcImageFitWindow", QStringLiteral("画面に合わせる"), {Qt::Key_F8},
                                   [viewer] { viewer()->SetSizeMode(vsmFitShrink); }, true));
    Action("AcImageFitWindow")->setChecked(true);
    AddAction("AcImageZoomIn", QStringLiteral("拡大"), {}, [viewer] { viewer()->ZoomIn(); });
    AddAction("AcImageZoomOut", QStringLiteral("縮小"), {}, [viewer] { viewer()->ZoomOut(); });
    AddAction("AcImagePrev", QStringLiteral("前の画像"), {Qt::Key_Left, Qt::Key_Up}, [this] { FCatalog->ShowPrev(); });
    AddAction("AcImageNext", QStringLiteral("次の画像"), {Qt::Key_Right, Qt::Key_Down}, [this] { FCatalog->ShowNext(); });
    AddAction("AcImageUpdate", QStringLiteral("表示の更新"), {}, [viewer] { viewer()->Reload(); });
    auto* mouseModes = new QActionGroup(this);
    const std::tuple<const char*, const char*, int, int> mice[] = {
        {"AcImageMouseZoom", "ズーム", Qt::Key_F2, vcmZoom},
        {"AcImageMouseDrag", "ドラッグ", Qt::Key_F3, vcmDrag},
        {"AcImageMouseNext", "進む・戻る", Qt::Key_F4, vcmNextPrev},
        {"AcImageMousePoint", "QuickZoom", Qt::Key_F5, vcmQuickZoom}};
    for (auto [name, caption, key, mode] : mice) {
        // the viewer works in the mode of the checked action
        QAction* a = AddAction(name, QString::fromUtf8(caption), {QKeySequence(Qt::CTRL | key)},
                               [viewer, mode] { viewer()->SetCursorMode(mode); }, true);
        a->setData(mode);
        mouseModes->addAction(a);
    }
    Action("AcImageMouseDrag")->setChecked(true);
    AddAction("AcImageComment", QStringLiteral("コメント"), {}, nullptr);

    // tray (the photo-book tray joins the window with its own frame)
    AddAction("AcTrayIn", QStringLiteral("トレイに入れる"), {Qt::Key_F9}, nullptr);
    AddAction("AcTrayOut", QStringLiteral("トレイから出す"), {Qt::Key_F10}, nullptr);
    AddAction("AcTrayClear", QStringLiteral("トレイをクリア"), {}, nullptr);
    AddAction("AcTrayUpload", QStringLiteral("アップロード"), {}, nullptr);

    // tools
    const std::pair<const char*, int> tools[] = {{"AcToolExifInfo", tmExifInfo}, {"AcToolEffect", tmEffect}, {"AcToolPrint", tmPrint}};
    const QString toolCaptions[] = {QStringLiteral("写真情報"), QStringLiteral("写真の補正"), QStringLiteral("写真の印刷")};
    for (int i = 0; i < 3; ++i) {
        int mode = tools[i].second;
        QAction* a = AddAction(tools[i].first, toolCaptions[i], {}, nullptr, true);
        connect(a, &QAction::triggered, this, [this, mode](bool checked) {
            if (FReady) SetToolMode(checked ? mode : tmNone);
        });
    }
    Action("AcToolPrint")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    // the photo information: Ctrl+I as "info" in most programs (Alt+Enter is the properties')
    Action("AcToolExifInfo")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    AddAction("AcToolUseFileCache", QStringLiteral("サムネイルキャッシュの設定..."), {}, [this] { ShowCacheSettings(); });
    AddAction("AcOptionDontCheckNetwork", QStringLiteral("Networkチェックを行わない"), {}, nullptr, true);
    connect(Action("AcOptionDontCheckNetwork"), &QAction::triggered, this, [](bool on) {
        if (TFolvaneConfigItem* c = CorvaConfig()) c->SetDontCheckNetwork(on);
    });
    AddAction("AcToolOption", QStringLiteral("環境設定"), {}, nullptr);

    // help and debug
    AddAction("AcHelpShow", QStringLiteral("ヘルプ"), {Qt::Key_F1}, [this] { ShowHelp(); });
    AddAction("AcHelpShowVersion", QStringLiteral("バージョン情報..."), {}, [this] { ShowAbout(); });
    // Shift+F10 and the menu key open the popup of the focused view, so the menu bar takes Ctrl+Shift+F10
    AddAction("AcDebugShowMainMenu", QStringLiteral("メインメニューを表示"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F10)},
              nullptr, true);
    connect(Action("AcDebugShowMainMenu"), &QAction::toggled, this,
            [this](bool on) { ShowMenuBar(on && FToolMode != tmPrint); });
    AddAction("AcDebugShowAddrBar", QStringLiteral("アドレスバーを表示"), {QKeySequence(Qt::SHIFT | Qt::Key_F9)}, nullptr, true);
    AddAction("AcDebugShowParams", QStringLiteral("デバッグ情報の表示"), {Qt::Key_Home}, nullptr);
    AddAction("AcDebugRefreshTray", QStringLiteral("タブ切り替え時にFolvaneの表紙をリフレッシュする"), {}, nullptr, true);
    AddAction("AcDebugBgmLibrary", QStringLiteral("BGMライブラリ"), {}, nullptr);
    AddAction("AcDebugDispFrame", QStringLiteral("dispframe"), {QKeySequence(Qt::CTRL | Qt::Key_Home)},
              [this] { SetTitleBandShown(!TitleBandShown()); }, true);
    AddAction("AcDebugCacheTest", QStringLiteral("AcDebugCacheTest"), {}, nullptr);

    // pictures
    Action("AcFileTrash")->setIcon(StyleIcon(QStyle::SP_TrashIcon));
    Action("AcFileTrash")->setProperty("imageIndex", kImageTrash);
    Action("AcFileDelete")->setIcon(StyleIcon(QStyle::SP_DialogDiscardButton));
    Action("AcFileDelete")->setProperty("imageIndex", kImageDelete);
    Action("AcEditRotateL")->setIcon(CommonIcon(ciRotateLeft));
    Action("AcEditRotateR")->setIcon(CommonIcon(ciRotateRight));
    Action("AcEditMarkChange")->setIcon(CommonIcon(ciFavourite));
    Action("AcImageMarkChange")->setIcon(CommonIcon(ciFavourite));
    Action("AcShowMarkOnly")->setIcon(CommonIcon(ciFavourite));
    Action("AcImagePrev")->setIcon(StyleIcon(QStyle::SP_ArrowLeft));
    Action("AcImageNext")->setIcon(StyleIcon(QStyle::SP_ArrowRight));
    Action("AcImageZoomIn")->setIcon(CommonIcon(ciZoomView));
    Action("AcImageZoomOut")->setIcon(StyleIcon(QStyle::SP_TitleBarMinButton));
    Action("AcImageOriginalSize")->setIcon(StyleIcon(QStyle::SP_TitleBarMaxButton));
    Action("AcImageFitWindow")->setIcon(StyleIcon(QStyle::SP_TitleBarNormalButton));
    Action("AcShowUpdate")->setIcon(StyleIcon(QStyle::SP_BrowserReload));
    Action("AcShowFolder")->setIcon(CommonIcon(ciDiskFolder));
    Action("AcShowCalendar")->setIcon(CommonIcon(ciCalendar));
    Action("AcJumpFolder")->setIcon(CommonIcon(ciDiskFolder));
    Action("AcJumpCalendar")->setIcon(CommonIcon(ciCalendar));
    Action("AcJumpTag")->setIcon(CommonIcon(ciTag));

    // actions whose dialogs or frames come with their own parts of the program: shown once those exist
    for (const char* name : {"AcFileRename", "AcFileSave", "AcFileChangeExifDate", "AcTrayIn", "AcTrayOut", "AcTrayClear",
                             "AcTrayUpload", "AcToolExifInfo", "AcToolEffect", "AcToolPrint", "AcDebugBgmLibrary",
                             "AcDebugShowAddrBar", "AcDebugRefreshTray"})
        Action(QString::fromLatin1(name))->setProperty("absent", true);
}

void TFolvaneMain2::ShowMenuBar(bool on) {
    if (!on && !FMenuBar) return;
    if (!FMenuBar) {
        // the bar and its menus are made the first time the bar shows: most starts never show it
        FMenuBar = new QMenuBar(FPanelLibrary);
        FMenuBar->setObjectName("MainMenu");
        FMenuBar->setFixedHeight(28);
        FMenuBar->setNativeMenuBar(false);
        static_cast<QBoxLayout*>(FPanelLibrary->layout())->insertWidget(0, FMenuBar);
        BuildMenus(false);
    }
    FMenuBar->setVisible(on);
}

void TFolvaneMain2::BuildMenus(bool captions) {
    using TEntry = std::pair<const char*, const char*>;  // action (null: separator), menu caption (null: its own)
    // with captions the actions get their menu captions (at construction, for the popup too); with the
    // menu bar made the menus are filled
    auto fill = [this, captions](QMenu* m, std::initializer_list<TEntry> entries) {
        for (auto [name, caption] : entries) {
            QAction* a = name ? Action(QString::fromLatin1(name)) : nullptr;
            if (a && caption && captions) a->setText(QString::fromUtf8(caption));
            if (!m) continue;
            if (a)
                m->addAction(a);
            else
                m->addSeparator();
        }
    };
    auto menu = [this](QMenu* parent, const QString& title) -> QMenu* {
        if (!FMenuBar) return nullptr;
        return parent ? parent->addMenu(title) : FMenuBar->addMenu(title);
    };
    QMenu* file = menu(nullptr, QStringLiteral("ファイル(&F)"));
    fill(file, {{"AcFileRename", "名前の変更(&Z)"}, {"AcFileTrash", nullptr}, {"AcFileDelete", "削除(&X)"}, {nullptr, nullptr},
                {"AcFileSave", "別名で保存(&S)"}, {"AcFileChangeExifDate", "撮影日の変更(&U)"}, {"AcFileProperty", "プロパティ(&W)"},
                {nullptr, nullptr}, {"AcFileClose", "閉じる(&T)"}});
    QMenu* edit = menu(nullptr, QStringLiteral("編集(&E)"));
    fill(edit, {{"AcEditCopy", "コピー(&Z)"}, {"AcEditMove", "移動(&Q)"}, {nullptr, nullptr}, {"AcEditRotateR", "右に回転(&X)"},
                {"AcEditRotateL", "左に回転(&W)"}, {"AcEditRotateNon", "回転取り消し(&V)"}, {nullptr, nullptr},
                {"AcEditMark", "お気に入り(&R)"}, {"AcEditMarkNo", "お気に入り解除(&S)"},
                {"AcEditMarkChange", "お気に入りの切り替え(&T)"}, {"AcImageMarkChange", "お気に入りの切り替え(&U)"},
                {nullptr, nullptr}, {"AcEditSelectMark", "お気に入りを選択(&Y)"}, {"AcEditSelectAll", "全てを選択(&O)"},
                {nullptr, nullptr}, {"AcEditMoveMark", nullptr}, {"AcEditRotateLMark", nullptr}, {"AcEditRotateRMark", nullptr},
                {"AcEditRotateNonMark", nullptr}});
    QMenu* view = menu(nullptr, QStringLiteral("表示(&S)"));
    fill(view, {{"AcShowFolder", "フォルダを表示(&Z)"}, {"AcShowCalendar", "カレンダーを表示(&Y)"}, {nullptr, nullptr},
                {"AcShowViewer", "写真の拡大表示(&Q)"}, {nullptr, nullptr}, {"AcJumpFolder", "写真のフォルダを表示する(&S)"},
                {"AcJumpCalendar", "写真のカレンダーを表示する(&X)"}, {nullptr, nullptr}});
    QMenu* sort = menu(view, QStringLiteral("整列(&U)"));
    fill(sort, {{"AcSortName", nullptr}, {"AcSortExifDate", nullptr}, {nullptr, nullptr}, {"AcSortUp", nullptr}, {"AcSortDown", nullptr}});
    QMenu* sizes = menu(view, QStringLiteral("サムネイルサイズ(&T)"));
    fill(sizes, {{"AcCsSmall2", nullptr}, {"AcCsSmall", nullptr}, {"AcCsMiddle", nullptr}, {"AcCsLarge", nullptr}, {"AcCsLarge2", nullptr}});
    fill(view, {{"AcShowAlwaysTitleRow", "常に撮影日でグループ化する(&N)"}, {"AcShowMarkOnly", "☆お気に入りのみ表示する(&W)"},
                {nullptr, nullptr}, {"AcShowUpdate", "更新(&P)"}});
    QMenu* photo = menu(nullptr, QStringLiteral("写真表示(&V)"));
    fill(photo, {{"AcImageAutoCont", "自動補正(&Z)"}, {nullptr, nullptr}, {"AcImageOriginalSize", "等倍表示(&W)"},
                 {"AcImageFitWindow", "画面に合わせる(&V)"}, {"AcImageZoomIn", nullptr}, {"AcImageZoomOut", nullptr},
                 {nullptr, nullptr}, {"AcImagePrev", nullptr}, {"AcImageNext", nullptr}, {nullptr, nullptr}, {"AcImageComment", nullptr}});
    QMenu* tray = menu(nullptr, QStringLiteral("トレイ(&D)"));
    fill(tray, {{"AcTrayIn", "トレイに入れる(&Z)"}, {"AcTrayOut", "トレイから出す(&Y)"}, {"AcTrayClear", "トレイをクリア(&X)"},
                {"AcTrayUpload", "アップロード(&W)"}});
    QMenu* tools = menu(nullptr, QStringLiteral("ツール(&T)"));
    fill(tools, {{"AcToolExifInfo", "写真情報(&X)"}, {"AcToolEffect", "写真の補正(&Z)"}, {"AcToolPrint", "写真の印刷(&V)"}, {nullptr, nullptr}});
    QMenu* options = menu(tools, QStringLiteral("環境設定(&Y)"));
    fill(options, {{"AcToolUseFileCache", nullptr}, {"AcDebugShowMainMenu", nullptr}});
    fill(tools, {{nullptr, nullptr}, {"AcDebugShowAddrBar", nullptr}, {"AcDebugShowParams", nullptr}, {"AcDebugRefreshTray", nullptr},
                 {"AcDebugBgmLibrary", nullptr}, {"AcDebugDispFrame", nullptr}});
    QMenu* help = menu(nullptr, QStringLiteral("ヘルプ(&H)"));
    fill(help, {{"AcHelpShow", "ヘルプ(&Y)"}, {"AcHelpShowVersion", "バージョン情報(&Z)..."}});
    // hidden entries
    if (!captions) return;
    for (const char* name : {"AcFileCreateNew", "AcEditCopyMark", "AcShowAlbum", "AcShowMain", "AcShowLocalSearch"})
        Action(QString::fromLatin1(name))->setVisible(false);
}

void TFolvaneMain2::BuildToolBar() {
    FToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // the viewer button is a text button that carries AcShowViewer or, with the viewer open, AcShowMain
    FBtnShowViewer = FToolBar->addAction(Action("AcShowViewer")->iconText());
    FBtnShowViewer->setObjectName("BtnShowViewer");
    connect(FBtnShowViewer, &QAction::triggered, this, [this] {
        Action(IsViewerShown() ? "AcShowMain" : "AcShowViewer")->trigger();
    });
    if (auto* b = FToolBar->widgetForAction(FBtnShowViewer)) b->setProperty("textButton", true);
    FSplViewer = FToolBar->addSeparator();
    FSplViewer->setObjectName("tbSplViewer");
    for (const char* n : {"AcImageOriginalSize", "AcImageFitWindow", "AcImageZoomIn", "AcImageZoomOut"})
        FToolBar->addAction(Action(QString::fromLatin1(n)));
    FSplRotate = FToolBar->addSeparator();
    FSplRotate->setObjectName("tbSplRotate");
    FToolBar->addAction(Action("AcEditRotateL"));
    FToolBar->addAction(Action("AcEditRotateR"));
    FToolBar->addSeparator();
    FToolBar->addAction(Action("AcImagePrev"));
    FToolBar->addAction(Action("AcImageNext"));
    FToolBar->addSeparator();
    // the favourite button toggles the grid's selection, or in the viewer the shown photo
    FBtnMarkChange = FToolBar->addAction(CommonIcon(ciFavourite), Action("AcEditMarkChange")->iconText());
    FBtnMarkChange->setObjectName("BtnMarkChange");
    connect(FBtnMarkChange, &QAction::triggered, this, [this] {
        if (IsViewerShown())
            Action("AcImageMarkChange")->trigger();
        else
            Action("AcEditMarkChange")->trigger();
    });
    FToolBar->addAction(Action("AcShowMarkOnly"));
    FToolBar->addSeparator();
    FToolBar->addAction(Action("AcFileTrash"));
    FSplTray = FToolBar->addSeparator();
    FSplTray->setObjectName("tbsplTray");
    for (const char* n : {"AcToolExifInfo", "AcToolEffect", "AcToolPrint"}) {
        QAction* a = Action(QString::fromLatin1(n));
        FToolBar->addAction(a);
        if (auto* b = qobject_cast<QToolButton*>(FToolBar->widgetForAction(a))) b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    if (auto* b = qobject_cast<QToolButton*>(FToolBar->widgetForAction(FBtnShowViewer))) b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    if (auto* b = qobject_cast<QToolButton*>(FToolBar->widgetForAction(Action("AcShowMarkOnly"))))
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void TFolvaneMain2::BuildPopup() {
    FPopup = new QMenu(this);
    FPopup->setObjectName("PMCatalog");
    FPopupDebug = FPopup->addMenu(QStringLiteral("デバッグ用"));
    for (const char* n : {"AcDebugShowAddrBar", "AcDebugShowParams", "AcDebugRefreshTray", "AcDebugBgmLibrary"})
        FPopupDebug->addAction(Action(QString::fromLatin1(n)));
    FPopupDebugSep = FPopup->addSeparator();
    auto add = [this](std::initializer_list<const char*> names) {
        for (const char* n : names) {
            if (n)
                FPopup->addAction(Action(QString::fromLatin1(n)));
            else
                FPopup->addSeparator();
        }
    };
    add({"AcJumpFolder", "AcJumpCalendar", "AcJumpTag", nullptr});
    QMenu* sort = FPopup->addMenu(QStringLiteral("整列"));
    for (const char* n : {"AcSortName", "AcSortExifDate", static_cast<const char*>(nullptr), "AcSortUp", "AcSortDown"}) {
        if (n)
            sort->addAction(Action(QString::fromLatin1(n)));
        else
            sort->addSeparator();
    }
    FPopup->addSeparator();
    QMenu* sizes = FPopup->addMenu(QStringLiteral("サムネイルサイズ"));
    for (const char* n : {"AcCsSmall2", "AcCsSmall", "AcCsMiddle", "AcCsLarge", "AcCsLarge2"}) sizes->addAction(Action(QString::fromLatin1(n)));
    add({nullptr, "AcShowAlwaysTitleRow", nullptr, "AcDebugShowMainMenu", nullptr, "AcEditCopy", "AcEditMove", "AcFileRename",
         "AcFileTrash", nullptr, "AcTrayIn", "AcTrayOut", nullptr, "AcToolPrint", "AcFileSave", "AcFileChangeExifDate",
         "AcFileProperty", nullptr, "AcEditSelectMark", "AcEditSelectAll", nullptr, "AcShowUpdate"});
    connect(FJumpTagMenu, &QMenu::aboutToShow, this, [this] { UpdateJumpTagMenu(); });
    FCatalog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FCatalog, &QWidget::customContextMenuRequested, this, &TFolvaneMain2::OpenCatalogPopup);
}

void TFolvaneMain2::OpenCatalogPopup(const QPoint& pos) {
    if (!FReady) return;
    SetupActions();
    UpdateJumpTagMenu();
    FPopup->popup(FCatalog->mapToGlobal(pos));
}

void TFolvaneMain2::UpdateTrashCaptions(bool tagFolder) {
    QAction* trash = Action("AcFileTrash");
    QAction* del = Action("AcFileDelete");
    QString trashText = tagFolder ? QStringLiteral("タグを外す") : QStringLiteral("ゴミ箱へ");
    if (trash->iconText() != trashText) {
        trash->setText(trashText);
        trash->setIconText(trashText);
        trash->setToolTip(trashText);
        trash->setProperty("imageIndex", tagFolder ? kImageRemoveTag : kImageTrash);
        trash->setIcon(tagFolder ? CommonIcon(ciTag) : StyleIcon(QStyle::SP_TrashIcon));
        del->setText(tagFolder ? QStringLiteral("ゴミ箱へ") : QStringLiteral("削除(&X)"));
        del->setIconText(tagFolder ? QStringLiteral("ゴミ箱へ") : QStringLiteral("削除"));
        del->setProperty("imageIndex", tagFolder ? kImageTrash : kImageDelete);
        del->setIcon(tagFolder ? StyleIcon(QStyle::SP_TrashIcon) : StyleIcon(QStyle::SP_DialogDiscardButton));
    }
}

void TFolvaneMain2::UpdateJumpTagMenu() {
    TCatalogItem* item = CurrentItem();
    std::vector<TCustomFolder*> tags;
    if (item)
        for (TCustomFolder* f : item->GetAlbums())
            if (IsTagFolder(f)) tags.push_back(f);
    Action("AcJumpTag")->setEnabled(!tags.empty());
    FJumpTagMenu->clear();
    std::sort(tags.begin(), tags.end(), [](TCustomFolder* a, TCustomFolder* b) {
        return QString::fromStdString(a->GetCaption()).localeAwareCompare(QString::fromStdString(b->GetCaption())) < 0;
    });
    for (TCustomFolder* tag : tags) {
        QAction* a = FJumpTagMenu->addAction(Action("AcJumpTag")->icon(), QString::fromStdString(tag->GetCaption()));
        connect(a, &QAction::triggered, this, [this, tag] { ShowFolder(tag); });
    }
}

void TFolvaneMain2::SetupActions() {
    TStallActivity mark("SetupActions");
    try {
        TCatalogItem* item = CurrentItem();
        const bool hasItem = item != nullptr;
        const bool viewer = IsViewerShown();
        TCustomFolder* shown = ShownFolder();
        const bool ro = IsSiblingAlbum(shown);
        const bool tag = IsTagFolder(shown);
        const int tab = ActiveTab();
        const bool lib = tab == 1;
        const bool print = FToolMode == tmPrint;
        auto a = [this](const char* n) { return Action(QString::fromLatin1(n)); };

        // the binding of the viewer and favourite buttons follows the viewer, whoever opened it
        if (FBtnShowViewer->iconText() != (viewer ? a("AcShowMain") : a("AcShowViewer"))->iconText()) {
            QAction* bound = viewer ? a("AcShowMain") : a("AcShowViewer");
            FBtnShowViewer->setText(bound->iconText());
            FBtnShowViewer->setToolTip(bound->toolTip());
            QKeySequence viewerKey(Qt::Key_F6);
            a("AcShowMain")->setShortcuts(viewer ? QList<QKeySequence>{viewerKey, QKeySequence(Qt::Key_Escape)}
                                                 : QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
            a("AcShowViewer")->setShortcuts(viewer ? QList<QKeySequence>{} : QList<QKeySequence>{viewerKey});
        }
        FSplViewer->setVisible(viewer);

        for (const char* n : {"AcFileRename", "AcEditMove", "AcEditMoveMark"}) SetOn(a(n), hasItem && !ro);
        for (const char* n : {"AcFileProperty", "AcEditCopy", "AcEditCopyMark", "AcEditMark", "AcEditMarkNo", "AcEditSelectMark",
                              "AcEditSelectAll", "AcJumpFolder", "AcJumpCalendar", "AcImagePrev", "AcImageNext", "AcTrayOut"})
            SetOn(a(n), hasItem);
        SetOn(a("AcFileChangeExifDate"), lib && hasItem);
        SetOn(a("AcFileSave"), hasItem && FCatalog->SelectedCount() == 1);
        TCatalogItem* focused = FCatalog->FocusedItem();
        SetOn(a("AcFileTrash"), focused && !ro);
        SetOn(a("AcFileDelete"), focused && !ro);
        UpdateTrashCaptions(tag);
        for (const char* n : {"AcEditRotateL", "AcEditRotateR", "AcEditRotateNon", "AcEditRotateLMark", "AcEditRotateRMark",
                              "AcEditRotateNonMark"})
            SetState(a(n), lib && hasItem, lib && hasItem);
        FSplRotate->setVisible(lib && hasItem);
        SetState(a("AcEditMarkChange"), hasItem, !viewer);
        SetState(a("AcToolExifInfo"), lib, true);
        SetState(a("AcToolEffect"), lib, lib);
        SetState(a("AcToolPrint"), lib, lib);
        for (const char* n : {"AcCsSmall2", "AcCsSmall", "AcCsMiddle", "AcCsLarge", "AcCsLarge2"}) {
            QAction* s = a(n);
            bool on = s->data().toInt() == FCatalog->ThumbSize();
            if (s->isChecked() != on) s->setChecked(on);
        }
        SetOn(a("AcSortName"), !ro);
        SetOn(a("AcSortExifDate"), !ro);
        SetOn(a("AcSortUp"), true);
        SetOn(a("AcSortDown"), true);
        THistoryList* history = CorvaHistorys();
        SetOn(a("AcJumpHistoryPrev"), tab != 0 && lib && history && history->CanBack() && !print);
        SetOn(a("AcJumpHistoryNext"), tab != 0 && lib && history && history->CanForward() && !print);
        for (const char* n : {"AcImageAutoCont", "AcImageMarkChange", "AcImageZoomIn", "AcImageZoomOut"}) SetState(a(n), hasItem, viewer);
        SetState(a("AcImageOriginalSize"), true, viewer);
        SetState(a("AcImageFitWindow"), true, viewer);
        SetOn(a("AcShowUpdate"), tab != 0);
        SetState(a("AcShowMarkOnly"), hasItem || a("AcShowMarkOnly")->isChecked(), !viewer);
        SetState(a("AcShowViewer"), lib && hasItem && !viewer, lib && !viewer);
        SetState(a("AcShowMain"), lib && viewer, lib && viewer);
        FBtnShowViewer->setEnabled(viewer ? a("AcShowMain")->isEnabled() : a("AcShowViewer")->isEnabled());
        FBtnShowViewer->setVisible(lib);
        FBtnMarkChange->setEnabled(hasItem);
        SetState(a("AcTrayIn"), hasItem, true);
        FSplTray->setVisible(true);
        for (const char* n : {"AcDebugShowAddrBar", "AcDebugRefreshTray", "AcDebugBgmLibrary", "AcDebugDispFrame"})
            SetState(a(n), FDebugMode, FDebugMode);
        if (a("AcDebugDispFrame")->isChecked() != TitleBandShown()) a("AcDebugDispFrame")->setChecked(TitleBandShown());
        FPopupDebug->menuAction()->setVisible(FDebugMode);
        FPopupDebugSep->setVisible(FDebugMode);
        SetState(a("AcDebugShowParams"), FDebugInfoAllowed, FDebugMode);
        for (const char* n : {"AcFileCreateNew", "AcToolOption", "AcImageComment", "AcShowLocalSearch"}) SetOn(a(n), false);
        SetState(a("AcDebugCacheTest"), false, false);

        // an action whose dialog or frame is not part of this build stays hidden, never dead
        for (const char* n : {"AcFileRename", "AcFileSave", "AcFileChangeExifDate", "AcTrayIn", "AcTrayOut", "AcTrayClear",
                              "AcTrayUpload", "AcToolExifInfo", "AcToolEffect", "AcToolPrint", "AcDebugBgmLibrary",
                              "AcDebugShowAddrBar", "AcDebugRefreshTray"})
            SetState(a(n), false, false);
        FSplTray->setVisible(false);

        SetBackEnabled(a("AcJumpHistoryPrev")->isEnabled());
        SetForwardEnabled(a("AcJumpHistoryNext")->isEnabled());
        SetRefreshEnabled(a("AcShowUpdate")->isEnabled());
    } catch (const std::exception& e) {
        WriteLogFailed(std::string(kMainWindowClassName) + ".SetupActions", e);
    }
}

bool TFolvaneMain2::KeyMayBeShortcut(int key, Qt::KeyboardModifiers mods, QWidget* focus) const {
    (void)mods;
    // a multi-line text box keeps every key
    if (qobject_cast<QPlainTextEdit*>(focus) || (qobject_cast<QTextEdit*>(focus) && !qobject_cast<QTextEdit*>(focus)->isReadOnly()))
        return false;
    const int tab = ActiveTab();
    if (tab == 0) return key == Qt::Key_Home || key == Qt::Key_F5;
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right || key == Qt::Key_Down;
    if (arrow) {
        // the arrows move the grid's cursor unless the viewer has the focus
        QWidget* v = FCatalog ? FCatalog->Viewer() : nullptr;
        bool viewerFocused = v && focus && (focus == v || v->isAncestorOf(focus));
        if (!viewerFocused) return false;
    }
    if (tab == 1 && FToolMode == tmPrint) return key == Qt::Key_Escape || arrow || key == Qt::Key_F6;
    return true;
}

namespace {
bool IsPopupKey(const QKeyEvent& k) {
    const Qt::KeyboardModifiers mods = k.modifiers() & ~Qt::KeypadModifier;
    return (k.key() == Qt::Key_Menu && mods == Qt::NoModifier) || (k.key() == Qt::Key_F10 && mods == Qt::ShiftModifier);
}
}  // namespace

std::vector<QWidget*> TFolvaneMain2::TabStops() const {
    std::vector<QWidget*> stops;
    auto add = [&stops](QWidget* w) {
        if (w && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) stops.push_back(w);
    };
    if (FTargets && FTargetPanel->isVisible()) stops = FTargets->FocusStops();
    add(FBtnAbort);
    if (FCatalog) {
        if (IsViewerShown())
            add(FCatalog->Viewer());
        else
            add(FCatalog);
        add(FCatalog->SizeSlider());
    }
    return stops;
}

bool TFolvaneMain2::focusNextPrevChild(bool next) {
    const std::vector<QWidget*> stops = TabStops();
    if (stops.empty()) return TSkinForm::focusNextPrevChild(next);
    QWidget* focus = QApplication::focusWidget();
    int at = -1;
    for (int i = 0; i < static_cast<int>(stops.size()); ++i)
        if (focus && (stops[i] == focus || stops[i]->isAncestorOf(focus))) at = i;
    const int n = static_cast<int>(stops.size());
    const int to = at < 0 ? (next ? 0 : n - 1) : (at + (next ? 1 : n - 1)) % n;
    stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool TFolvaneMain2::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::KeyPress && FCatalog && IsViewerShown() && IsPopupKey(*static_cast<QKeyEvent*>(e))) {
        // the viewer's popup is the catalog's, over the middle of the photo
        auto* w = qobject_cast<QWidget*>(o);
        QWidget* v = FCatalog->Viewer();
        if (w && (w == v || v->isAncestorOf(w))) {
            OpenCatalogPopup(v->mapTo(FCatalog, v->rect().center()));
            return true;
        }
    }
    if (e->type() == QEvent::ShortcutOverride) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && w->window() == this) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (!KeyMayBeShortcut(k->key(), k->modifiers(), QApplication::focusWidget() ? QApplication::focusWidget() : w)) {
                // accepting the override hands the key to the widget instead of the shortcuts
                e->accept();
                return true;
            }
        }
    }
    return TSkinForm::eventFilter(o, e);
}

}  // namespace fv
