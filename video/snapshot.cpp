// Snapshot paths (see snapshot.h).
#include "video/snapshot.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

#include "video/bitmap_file.h"

QString snapshot_path(const QString& who) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = QString("%1_%2_%3.png")
                             .arg(now.toString("yyyyMMdd_HHmmss"))
                             .arg(QString::fromStdString(safe_file_component(who.toStdString())))
                             .arg(QDateTime::currentMSecsSinceEpoch() % 100000000);
    // The name holds no separator, so the file is always inside the folder.
    return QDir(folder).filePath(name);
}

bool write_snapshot(const QString& path, const QImage& picture) {
    QSaveFile file(path);
    return !picture.isNull() && file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") &&
           file.commit();
}
