#pragma once
// The left column of the library page: the calendar, the disk folders, the sibling product's storage
// and the tags, each a collapsible frame, stacked like an accordion. One of the first three is the
// active frame and fills the free space; the tag frame sits at the bottom under a splitter and keeps
// its own open state. The frames never call the main window: it connects to the signals here.
#include <QWidget>
#include <vector>

#include "library/custom_folder.h"

namespace fv {

class TCustomFrameBase;
class TFrameTargetCalendar;
class TFrameTargetDirectory;
class TFrameTargetFolder;
class TSplitGrab;

class TFrameTargetsEx : public QWidget {
    Q_OBJECT
public:
    // target kinds of ShowFrame and ActiveKind: 0 none (the tags), 1 disk folders, 2 sibling storage, 3 calendar
    enum : int { tkNone = 0, tkDirectory = 1, tkMirabelo = 2, tkCalendar = 3 };

    explicit TFrameTargetsEx(QWidget* parent = nullptr);
    ~TFrameTargetsEx() override;

    // builds the trees from the running library (after the engine started); the calendar is active
    void Setup();
    // clears the trees and their subscriptions (before the engine stops)
    void Finish();
    // programmatic selection (showing a folder, history): activates the matching frame by the folder's
    // kind and selects its node; the signals are not raised for it (the caller shows the folder itself)
    void SelectFolder(TCustomFolder* folder);
    TCustomFolder* CurrentFolder() const { return FShownFolder; }
    // activates a frame by target kind and shows its current folder (as a click on its title does)
    void ShowFrame(int targetKind);

    int ActiveKind() const { return FActiveKind; }
    // the sibling-storage frame shows only once such storage is known to exist
    void SetMirabeloExists(bool on);
    bool MirabeloExists() const { return FMirabeloExists; }

    TFrameTargetCalendar* CalendarFrame() const { return FTargetCalendar; }
    TFrameTargetDirectory* DirectoryFrame() const { return FTargetDirectory; }
    TFrameTargetFolder* MirabeloFrame() const { return FTargetMirabelo; }
    TFrameTargetFolder* TagFrame() const { return FTargetGroup; }
    QWidget* Splitter() const;
    // the tag frame's height while open (the splitter moves it)
    int TagHeight() const { return FTagHeight; }
    void SetTagHeight(int h);
    // The keyboard's stops in this column from top to bottom: the title of each frame that a key
    // can open, the tree (and the calendar's month grid) of each open frame; hidden parts are left out.
    std::vector<QWidget*> FocusStops() const;

signals:
    void folderChosen(fv::TCustomFolder* folder);
    void dateChosen(double day);
    void filterResetRequested();
    // folders were registered in or taken out of the calendar: the library updater follows them
    void folderListChanged();
    // the directory tree registered a folder in the calendar or took it out
    void calendarRegistration(fv::TCustomFolder* folder, bool registered);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void Activate(int kind, bool showFolder);
    void Relayout();
    void FolderChosenByFrame(TCustomFolder* folder);
    TCustomFrameBase* FrameOf(int kind) const;

    TFrameTargetCalendar* FTargetCalendar = nullptr;
    TFrameTargetDirectory* FTargetDirectory = nullptr;
    TFrameTargetFolder* FTargetMirabelo = nullptr;
    TFrameTargetFolder* FTargetGroup = nullptr;
    TSplitGrab* FSplGroup = nullptr;
    // by target kind; slot 0 holds the tag frame
    TCustomFrameBase* FFrames[4] = {nullptr, nullptr, nullptr, nullptr};
    int FActiveKind = tkCalendar;
    TCustomFolder* FShownFolder = nullptr;
    bool FMirabeloExists = false;
    int FTagHeight = 180;
    bool FLayingOut = false;
    // set while a programmatic selection opens the tag frame
    bool FQuiet = false;
};

}  // namespace fv
