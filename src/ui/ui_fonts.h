#pragma once
// The one place that maps the fonts the interface names ("メイリオ", "ＭＳ Ｐゴシック", "Tahoma")
// to the fonts this desktop has: Noto Sans CJK JP, which carries both the Japanese and the
// Latin glyphs.
#include <QFont>
#include <QString>

namespace fv {

// the interface's font at a point size
QFont UiFont(int pointSize);
// a named font of the original layout at a pixel height
QFont UiFontNamed(const QString& name, int pixelSize);

}  // namespace fv
