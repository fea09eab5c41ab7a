#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

// Folders a DVR (or someone copying from one) puts recordings in: each
// recording under them, in their subfolders too, is told once it has
// stopped growing for the settle time, and once only: what was run is kept
// in a record, so that a watcher started again skips it.
//
// Recordings are files of the window's kinds (.mpg .mpeg .ts .tp .dvr-ms).
// Hidden files and folders (a cut's partial copy, a trash) and Trimlet's own
// copies (BASE.clean.EXT, BASE.chapters.mkv) are not recordings; nor is
// anything under a folder set with setIgnored() (where the copies or the
// originals go).
class FolderWatch : public QObject
{
    Q_OBJECT
public:
    FolderWatch(const QStringList &folders, int settleMs, const QString &recordFile,
                QObject *parent = nullptr);

    // Where the record goes: $XDG_STATE_HOME/trimlet/watched, else
    // ~/.local/state/trimlet/watched, else (a service with systemd's
    // StateDirectory= and no home) $STATE_DIRECTORY/watched; empty, with
    // why, when none of them is set.
    static QString defaultRecordFile(QString *why);
    static bool isRecordingName(const QString &name);

    void setIgnored(const QStringList &folders);
    // Reads the record and starts looking; false, with why, when the
    // record cannot be read or its folder made.
    bool start(QString *error);
    void stop();

    // The recording has been run (done or failed): it is noted with what
    // its name holds now (the copy, when it took the recording's place),
    // and not told again while that stays. False when the record could not
    // be written.
    bool finished(const QString &path);
    // Its run was stopped: it is told again once settled, in this watcher
    // or the next.
    void released(const QString &path);
    // The recording has grown or been written since it was told (a DVR
    // that paused longer than the settle time): a run that failed on it
    // is tried again once it settles.
    bool changedSinceTold(const QString &path) const;

signals:
    void settled(const QString &path);

private:
    struct Identity
    {
        qint64 size = -1;
        qint64 modifiedNs = -1;
        bool operator==(const Identity &o) const { return size == o.size && modifiedNs == o.modifiedNs; }
    };
    struct Seen
    {
        Identity identity;
        QElapsedTimer unchanged;
    };
    static bool identityOf(const QString &path, Identity *identity);
    void scan();
    void scanFolder(const QString &folder, QSet<QString> &present);

    QStringList m_folders;
    QStringList m_ignored;
    int m_settleMs;
    QString m_recordFile;
    QTimer m_poll;
    QHash<QString, Identity> m_done;
    QHash<QString, Seen> m_seen;
    QSet<QString> m_running;
    QHash<QString, Identity> m_told; // as it was when told, while it runs
};
