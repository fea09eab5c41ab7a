#include "jobs/FolderWatch.h"

#include "core/PathText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/stat.h>

// Looked at in turns rather than through QFileSystemWatcher: inotify says
// that a file was written, not that its writer has finished, which only
// the time it has stayed unchanged tells; and it does not see a network
// share's writes from another machine.

FolderWatch::FolderWatch(const QStringList &folders, int settleMs, const QString &recordFile, QObject *parent)
    : QObject(parent), m_settleMs(settleMs), m_recordFile(recordFile)
{
    for (const QString &folder : folders)
        m_folders << QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    // A few looks within the settle time, and none idler than 5 s.
    m_poll.setInterval(std::clamp(settleMs / 4, 100, 5000));
    connect(&m_poll, &QTimer::timeout, this, &FolderWatch::scan);
}

QString FolderWatch::defaultRecordFile(QString *why)
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (xdg.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(xdg) + QStringLiteral("/trimlet/watched");
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')) && home != QLatin1String("/"))
        return QDir::cleanPath(home) + QStringLiteral("/.local/state/trimlet/watched");
    const QString state = QFile::decodeName(qgetenv("STATE_DIRECTORY"));
    if (state.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(state.section(QLatin1Char(':'), 0, 0)) + QStringLiteral("/watched");
    if (why)
        *why = QStringLiteral("none of XDG_STATE_HOME, HOME and STATE_DIRECTORY is set, so there is no place "
                              "for the record of what was run");
    return QString();
}

bool FolderWatch::isRecordingName(const QString &name)
{
    static const QStringList kinds{QStringLiteral("mpg"), QStringLiteral("mpeg"), QStringLiteral("ts"),
                                   QStringLiteral("tp"), QStringLiteral("dvr-ms")};
    if (name.startsWith(QLatin1Char('.')) || !kinds.contains(pathtext::extension(name).toLower()))
        return false;
    // Trimlet's own copies, which a watcher would otherwise cut again.
    return !pathtext::deletingExtension(name).endsWith(QLatin1String(".clean"));
}

void FolderWatch::setIgnored(const QStringList &folders)
{
    m_ignored.clear();
    for (const QString &folder : folders)
        if (!folder.isEmpty())
            m_ignored << QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

bool FolderWatch::identityOf(const QString &path, Identity *identity)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    identity->size = st.st_size;
    identity->modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool FolderWatch::start(QString *error)
{
    QFile record(m_recordFile);
    if (!QDir().mkpath(QFileInfo(m_recordFile).absolutePath())) {
        if (error)
            *error = QStringLiteral("the folder of its record, %1, cannot be made")
                         .arg(QDir::toNativeSeparators(QFileInfo(m_recordFile).absolutePath()));
        return false;
    }
    if (record.exists() && !record.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("its record %1 cannot be read: %2").arg(m_recordFile, record.errorString());
        return false;
    }
    // One recording a line, "SIZE MTIME_NS PATH", the path's bytes
    // percent-encoded so that any name is one line; a later line wins.
    if (record.isOpen())
        for (const QByteArray &line : record.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 3)
                continue;
            m_done.insert(QFile::decodeName(QByteArray::fromPercentEncoding(fields[2])),
                          Identity{fields[0].toLongLong(), fields[1].toLongLong()});
        }
    m_poll.start();
    scan();
    return true;
}

void FolderWatch::stop()
{
    m_poll.stop();
}

bool FolderWatch::changedSinceTold(const QString &path) const
{
    Identity now;
    return m_told.contains(path) && identityOf(path, &now) && !(m_told.value(path) == now);
}

bool FolderWatch::finished(const QString &path)
{
    m_running.remove(path);
    m_told.remove(path);
    Identity now;
    if (!identityOf(path, &now))
        return true;
    m_done.insert(path, now);
    QFile record(m_recordFile);
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray line = QByteArray::number(now.size) + ' ' + QByteArray::number(now.modifiedNs) + ' '
                            + QFile::encodeName(path).toPercentEncoding("/") + '\n';
    return record.write(line) == line.size() && record.flush();
}

void FolderWatch::released(const QString &path)
{
    m_running.remove(path);
    m_told.remove(path);
}

void FolderWatch::scan()
{
    QSet<QString> present;
    for (const QString &folder : std::as_const(m_folders))
        scanFolder(folder, present);
    for (auto it = m_seen.begin(); it != m_seen.end();)
        it = present.contains(it.key()) ? std::next(it) : m_seen.erase(it);
}

void FolderWatch::scanFolder(const QString &folder, QSet<QString> &present)
{
    if (m_ignored.contains(folder))
        return;
    // Hidden entries are not listed: partial copies, trashes.
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = folder + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            // A link to a folder could lead back here.
            if (!entry.isSymLink())
                scanFolder(path, present);
            continue;
        }
        if (!isRecordingName(entry.fileName()) || m_running.contains(path))
            continue;
        Identity identity;
        if (!identityOf(path, &identity))
            continue;
        if (const auto done = m_done.constFind(path); done != m_done.cend() && *done == identity)
            continue;
        present.insert(path);
        const auto seen = m_seen.find(path);
        if (seen == m_seen.end()) {
            Seen first{identity, {}};
            first.unchanged.start();
            m_seen.insert(path, first);
        } else if (!(seen->identity == identity)) {
            seen->identity = identity;
            seen->unchanged.restart();
        } else if (seen->unchanged.elapsed() >= m_settleMs) {
            m_seen.erase(seen);
            m_running.insert(path);
            m_told.insert(path, identity);
            emit settled(path);
        }
    }
}
