#pragma once
// FOLVANE_SCREENSHOT_DIR set: pictures of what the screen shows at given moments, for the
// release notes and visual checks (the widget itself on the offscreen platform).
#include <QString>

class QWidget;

namespace fv {

void ScheduleScreenshot(int delayMs, const QString& fileName, QWidget* widget);

}  // namespace fv
