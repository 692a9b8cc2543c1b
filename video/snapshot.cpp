// Snapshot paths (see snapshot.h).
#include "video/snapshot.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "video/bitmap_file.h"

namespace {
// More snapshots than this of one name in one millisecond is not a person pressing a button.
constexpr int kMaxSameName = 100;
} // namespace

QString snapshot_path(const QString& who) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QDateTime now = QDateTime::currentDateTime();
    // One pass over the pattern: a "%1" in a nickname stays text and never takes another field's place.
    const QString stem = QString("%1_%2_%3")
                             .arg(now.toString("yyyyMMdd_HHmmss"),
                                  QString::fromStdString(safe_file_component(who.toStdString())),
                                  QString::number(QDateTime::currentMSecsSinceEpoch() % 100000000));
    // The name holds no separator, so the file is always inside the folder. The file is created here, so
    // that two snapshots at the same moment (two windows, or two presses) never write into one file.
    for (int n = 1; n <= kMaxSameName; ++n) {
        const QString name = n == 1 ? stem + ".png" : QString("%1_%2.png").arg(stem, QString::number(n));
        const QString path = QDir(folder).filePath(name);
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return path; // the write reports the failure
    }
    return {}; // no file is written
}

bool write_snapshot(const QString& path, const QImage& picture) {
    QSaveFile file(path);
    return !picture.isNull() && file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") &&
           file.commit();
}
