#pragma once
// The program's own pictures, in one place and one style: the common image list (small icons
// referred to by number everywhere in the interface), the named button bitmaps and the mouse
// cursors. Everything is painted in code on a 16-unit grid, so it is crisp at any device pixel
// ratio; pixmaps are made once per (picture, size, ratio) and kept. UI thread only.
#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <vector>

class QPainter;

namespace fv {

// Numbers of the common image list that the views use.
enum TCommonImageIndex : int {
    ciDiskFolder = 23,
    ciComment = 40,
    ciNewPhotos = 41,
    ciFavourite = 43,
    ciPrintReservation = 60,
    ciRotateRight = 75,
    ciOrientationHalf = 76,
    ciRotateLeft = 77,
    ciOrientationFlip = 78,
    ciOrientationMirror = 79,
    ciReadOnly = 102,
    ciDeleteReservation = 126,
    ciZoomView = 134,
    ciCorrections = 139,
    ciCalendar = 166,
    ciOrientationLeft = 183,
    ciOrientationRight = 184,
    ciTag = 192,
    ciSiblingAlbum = 193,
};

// every index that has a picture, ascending
const std::vector<int>& CommonImageIndices();
bool HasCommonImage(int index);
// The picture at `size` logical pixels for a device pixel ratio; a null pixmap for an unknown index.
QPixmap CommonImage(int index, int size = 16, qreal dpr = 1.0);
// Draws the picture with its top-left corner at (x, y), at the painter's device pixel ratio.
void DrawCommonImage(QPainter& p, int x, int y, int index, int size = 16);

// Named bitmaps: "DirectAlbumNormal", "DirectAlbumHot", "DirectAlbumDown" (89 x 17) and
// "DirectSlideNormal", "DirectSlideHot", "DirectSlideDown" (109 x 17).
QSize NamedBitmapSize(const QString& name);  // empty for an unknown name
QPixmap NamedBitmap(const QString& name, qreal dpr = 1.0);

// Cursors by their resource names: "CURHANDFLAT", "CURHANDGRAB", "CURZOOM", "CURNEXT".
// An unknown name gives the arrow.
QCursor CommonCursor(const QString& name);
QPixmap CommonCursorPixmap(const QString& name, qreal dpr = 1.0);

// Every picture on one sheet with its number, for looking at them (tests save it).
QImage CommonImageSheet(qreal dpr);

}  // namespace fv
