// Where snapshots go: the user's pictures folder, as PNG files, with a name that network text cannot steer.
#pragma once

#include <QString>

#include <QImage>

// "<pictures>/YYYYMMDD_hhmmss_<who>_<ms>.png" ("_2", "_3", ... before ".png" when that name is taken; the
// documents folder, then the home folder, when there is no pictures folder); `who` is made safe for a file
// name. The file is created (empty) so that the name stays this caller's; empty when no free name was found.
QString snapshot_path(const QString& who);

// Writes a snapshot file; false when it could not be written (nothing is left behind then).
bool write_snapshot(const QString& path, const QImage& picture);
