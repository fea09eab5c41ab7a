#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to path under a hidden staging name of its own
// (".NAME.trimlet-XXXXXX", made exclusively, so a link or file planted
// under any fixed name is never written through) and renames it into
// place, so a reader never sees half a file. The file gets the permissions
// the user's umask gives a new file, as any other program's would, so that
// a media server can read what is written beside a recording. There is
// no sync: these are work files rewritten at will, and after the cutter has
// written gigabytes a sync held the window while the disk caught up (117 ms
// after a 200 MB run log). False, with nothing left behind, when it fails.
bool writeAtomically(const QString &path, const QByteArray &bytes);

// What a new file gets under the user's umask (0666 without its bits).
unsigned newFilePermissions();

// Two files that must agree (a frame list and its EDL): both are staged
// first, and when the second cannot take its place the first is put back,
// so a failure leaves the old pair or the new one, never one of each.
bool writePairAtomically(const QString &firstPath, const QByteArray &first, const QString &secondPath,
                         const QByteArray &second);
