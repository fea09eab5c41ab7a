#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to path under a staging name of its own (made exclusively,
// so a link or file planted under any fixed name is never written through)
// and renames it into place, so a reader never sees half a file. There is
// no sync: these are work files rewritten at will, and after the cutter has
// written gigabytes a sync held the window while the disk caught up (117 ms
// after a 200 MB run log). False, with nothing left behind, when it fails.
bool writeAtomically(const QString &path, const QByteArray &bytes);
