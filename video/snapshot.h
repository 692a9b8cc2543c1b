// Where snapshots go: the user's documents folder, and a file name that network text cannot steer.
#pragma once

#include <QString>

// "<documents>/YYYYMMDD_hhmmss_<who>_<ms>.bmp" ("_2", "_3", ... before ".bmp" when that name is taken);
// `who` is made safe for a file name. The file is created (empty) so that the name stays this caller's;
// empty when no free name was found.
QString snapshot_path(const QString& who);
