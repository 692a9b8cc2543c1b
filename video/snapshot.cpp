// Snapshot paths (see snapshot.h).
#include "video/snapshot.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include "video/bitmap_file.h"

QString snapshot_path(const QString& who) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = QString("%1_%2_%3.bmp")
                             .arg(now.toString("yyyyMMdd_HHmmss"))
                             .arg(QString::fromStdString(safe_file_component(who.toStdString())))
                             .arg(QDateTime::currentMSecsSinceEpoch() % 100000000);
    // The name holds no separator, so the file is always inside the folder.
    return QDir(folder).filePath(name);
}
