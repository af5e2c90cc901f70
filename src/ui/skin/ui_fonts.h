#pragma once
// The one place that maps the fonts the interface names ("メイリオ", "ＭＳ Ｐゴシック", "Tahoma")
// to the fonts this desktop has: Noto Sans CJK JP, which carries both the Japanese and the
// Latin glyphs.
#include <QFont>
#include <QString>
#include <QStringList>

namespace fv {

// the interface's font at a point size
QFont UiFont(int pointSize);
// a named font of the original layout at a pixel height
QFont UiFontNamed(const QString& name, int pixelSize);

// Opens, on the calling (UI) thread, one of the fonts the main window draws with (0: the application's
// default font, 1: the interface's font, 2: the interface's font in bold), with a Latin and a Japanese
// line laid out in it. The process's first fonts cost tens of milliseconds (fontconfig and FreeType
// open the faces); start-up opens them one a turn before the window is built, so building the window
// no longer pays for them. Answers the families the lines were laid out in (empty past the last font).
constexpr int kUiFontsToOpen = 3;
QStringList OpenUiFont(int which);

}  // namespace fv
