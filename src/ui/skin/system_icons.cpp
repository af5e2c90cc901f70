#include "ui/skin/system_icons.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <vector>

namespace fv {
namespace {

struct TIconList {
    QFileIconProvider Provider;
    QMimeDatabase Mime;
    QHash<QString, int> Index;  // icon key -> position in Icons
    std::vector<QIcon> Icons;
};

TIconList& Icons() {
    static TIconList list;
    return list;
}

}  // namespace

int GetSystemIconIndex(const std::string& file, bool open) {
    QFileInfo info(QString::fromStdString(file));
    if (!info.exists()) return -1;
    TIconList& list = Icons();
    QString key;
    QIcon icon;
    if (info.isDir()) {
        key = open ? QStringLiteral("folder-open") : QStringLiteral("folder");
        QIcon base = list.Provider.icon(QFileIconProvider::Folder);
        icon = open ? QIcon::fromTheme(QStringLiteral("folder-open"), base) : base;
    } else {
        // one entry per file type, so a folder of ten thousand photos holds one JPEG icon
        QMimeType type = list.Mime.mimeTypeForFile(info);
        key = QStringLiteral("mime:") + type.name();
        auto found = list.Index.constFind(key);
        if (found != list.Index.constEnd()) return *found;
        icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), list.Provider.icon(info)));
    }
    auto found = list.Index.constFind(key);
    if (found != list.Index.constEnd()) return *found;
    if (icon.isNull()) return -1;
    int index = static_cast<int>(list.Icons.size());
    list.Icons.push_back(icon);
    list.Index.insert(key, index);
    return index;
}

QIcon SystemIcon(int index) {
    TIconList& list = Icons();
    if (index < 0 || index >= static_cast<int>(list.Icons.size())) return {};
    return list.Icons[static_cast<size_t>(index)];
}

}  // namespace fv
