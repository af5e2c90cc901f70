#pragma once
// The pictures of the skinned window frame: the title band tile, the four round buttons, the
// three tabs and the two footer pictures, each by its resource name ("WB_UP", "LT_N", "NET_A",
// "COPYR", ...). Painted in code in the colours of the splash, so they are crisp at any device
// pixel ratio; pixmaps are made once per (name, ratio) and kept. UI thread only.
#include <QPixmap>
#include <QSize>
#include <QString>
#include <vector>

namespace fv {

// the size in logical pixels; empty for an unknown name
QSize SkinPictureSize(const QString& name);
// the picture for a device pixel ratio; a null pixmap for an unknown name
QPixmap SkinPicture(const QString& name, qreal dpr = 1.0);
// every name the skin draws, in a stable order (for sheets and tests)
const std::vector<QString>& SkinPictureNames();

}  // namespace fv
