#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// The run log of a folder, "TrimletLog.txt", which every run on a
// recording in that folder writes to: a detection and the cut after it in
// a batch, two recordings side by side, two Trimlets. No run replaces
// another's part. Each run appends under an exclusive flock, after a
// header line naming the recording and the time; where another run wrote
// in between, its next piece starts with a line saying whose it is, so
// every piece of the log can be told apart. Erasing takes out the parts of
// one recording and leaves every other run's; the file goes only once
// nothing is left in it. QFile has no flock and no O_NOFOLLOW, hence the
// descriptor of our own.
//
// The log is never truncated to be written again: ext4 writes a file
// truncated to nothing and rewritten back when it is closed, which held
// the window for ~100 ms after a run with a 200 MB log. A run appends; an
// erase removes the name when only its recording's parts are left, and
// otherwise rewrites the file in place to a length that is never zero.
class RunLog
{
public:
    static QString fileName() { return QStringLiteral("TrimletLog.txt"); }

    RunLog() = default;
    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;
    ~RunLog();

    // Opens the folder's log, or makes it, and writes this run's header.
    // False, and no log, where it cannot be written: a read-only folder, a
    // name taken by a folder. A link under its name is taken away, never
    // written through, and so is a name with more than one link.
    bool open(const QString &dir, const QString &recording);
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    void write(const QByteArray &bytes);
    void close();

    // Takes every part written for recording out of dir's log.
    static void erasePartsOf(const QString &dir, const QString &recording);

private:
    bool openFile();
    // The log's name still stands for the file held open: another run's
    // erase may have removed it.
    bool isCurrent() const;
    void append(const QByteArray &bytes, const QByteArray &header);

    int m_fd = -1;
    QString m_path;
    QByteArray m_owner; // the header lines' last piece: the recording
    QByteArray m_started;
    qint64 m_end = -1; // where this run's last piece ended
};
