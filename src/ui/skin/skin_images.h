#pragma once
// The pictures of the skinned window frame: the title band tile, the four round buttons, the
// three tabs and the two footer pictures, each by its resource name ("WB_UP", "LT_N", "NET_A",
// "COPYR", ...). Painted in code in the colours of the splash, so they are crisp at any device
// pixel ratio; pixmaps are made once per (name, ratio) and kept. UI thread only, except for
// PrepareSkinPictures and DrawSkinPicture.
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <thread>
#include <vector>

namespace fv {

// the size in logical pixels; empty for an unknown name
QSize SkinPictureSize(const QString& name);
// the picture for a device pixel ratio; a null pixmap for an unknown name
QPixmap SkinPicture(const QString& name, qreal dpr = 1.0);
// every name the skin draws, in a stable order (for sheets and tests)
const std::vector<QString>& SkinPictureNames();
// A picture drawn as an image, on any thread: dotsPerMeter is the resolution the fonts are
// sized by (a fresh image's on the UI thread). Null for an unknown name.
QImage DrawSkinPicture(const QString& name, qreal dpr, int dotsPerMeter);
// Draws every picture of a ratio on a thread of its own (their texts and gradients are the
// slowest part of the window's first paint); SkinPicture then takes the ready image instead of
// drawing it. Only the first call for a ratio starts work; the caller joins the thread (an
// empty one when there was nothing to do). Call on the UI thread.
std::thread PrepareSkinPictures(qreal dpr);

}  // namespace fv
