// Where snapshots go: the user's documents folder, and a file name that network text cannot steer.
#pragma once

#include <QString>

// "<documents>/YYYYMMDD_hhmmss_<who>_<ms>.bmp"; `who` is made safe for a file name.
QString snapshot_path(const QString& who);
