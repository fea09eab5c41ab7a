#pragma once

#include "core/RunRequest.h"

#include <QString>

// One Trimlet at a time on one recording: an exclusive flock(2) on a lock
// file kept for as long as this object lives, which the kernel lets go
// when the process dies, however it dies. The lock is the recording's
// file itself (device and inode), so a link, a hard link or "./" reach the
// same one. The lock files lie in the system's world-writable lock folder
// ("/run/lock/trimlet-DEV-INO.lock"), where a DVR's service user and the
// desktop's user meet and where a read-only recordings folder is no
// matter; failing that in the user's runtime folder or the temporary one.
// The holder removes its lock file when it lets go; one that dies leaves
// an unlocked file, which the next Trimlet takes.
// QLockFile was not used: its stale-lock guess by PID and host may take a
// live Trimlet's lock, and its file lies beside the locked name, not its inode.
class RecordingLock
{
public:
    // Tries at once, without waiting.
    explicit RecordingLock(const QString &recording);
    // Also the names of the run's work files (its folder and base name),
    // which another recording of the same stem would be given.
    explicit RecordingLock(const RunRequest &request);
    RecordingLock(const QString &recording, const QString &workFolder, const QString &baseName);
    ~RecordingLock();
    RecordingLock(const RecordingLock &) = delete;
    RecordingLock &operator=(const RecordingLock &) = delete;

    bool isHeld() const { return m_fd >= 0; }
    // The process holding the lock when this one could not take it; 0 when
    // held here, or when no lock file could be had at all (the recording
    // missing), which blocks nothing.
    qint64 holder() const { return m_holder; }
    bool heldElsewhere() const { return m_holder != 0; }
    // "show.mpg is being processed by another Trimlet (process N).", or
    // that it shares its work files with a recording being processed.
    QString refusal() const;

private:
    QString m_name;
    QString m_sharedStem; // the base name another recording's run holds
    QByteArray m_path;
    int m_fd = -1;
    QByteArray m_workPath;
    int m_workFd = -1;
    qint64 m_holder = 0;
};
