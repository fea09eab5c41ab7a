#include "jobs/RecordingLock.h"

#include "core/PathText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The process that holds a flock on the file (device, inode), as the
// kernel lists it in /proc/locks: the lock file need not be writable to
// every user who may have to read who holds it.
qint64 flockHolder(dev_t device, ino_t inode)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wanted = QByteArray::number(major(device), 16).rightJustified(2, '0') + ':'
                              + QByteArray::number(minor(device), 16).rightJustified(2, '0') + ':'
                              + QByteArray::number(qulonglong(inode));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; blocked
        // waiters are "1: -> FLOCK ...".
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f.at(1) == "FLOCK" && f.at(5) == wanted)
            return f.at(4).toLongLong();
    }
    return 0;
}

int openLockFile(const QString &dir, const QByteArray &name)
{
    if (dir.isEmpty())
        return -1;
    const QByteArray path = QFile::encodeName(dir) + '/' + name;
    // Never through a link planted under the name; a file another user
    // made there is locked as it is (flock needs no write access).
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Others must be able to open it to take their turn, whatever our umask.
    if (st.st_uid == ::geteuid())
        ::fchmod(fd, 0644);
    return fd;
}

// Takes the lock file name in the first place one can be had: the path
// and descriptor of a lock held here, or the process holding it (-1 when
// held by one unknown), or neither when no lock file could be had at all.
void acquire(const QByteArray &name, QByteArray *heldPath, int *heldFd, qint64 *holder)
{
    // The other places are asked for only when needed: Qt warns on stderr,
    // which a DVR logs as an error, when XDG_RUNTIME_DIR is not set.
    int retries = 0;
    for (int place = 0; place < 3; ++place) {
        const QString dir = place == 0   ? QStringLiteral("/run/lock")
                            : place == 1 ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                                         : QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        const int fd = openLockFile(dir, name);
        if (fd < 0)
            continue;
        const QByteArray path = QFile::encodeName(dir) + '/' + name;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Locked, but perhaps a file its holder had just removed: the
            // lock counts only on the file under the name now.
            struct stat held = {};
            struct stat named = {};
            if (::fstat(fd, &held) != 0 || ::lstat(path.constData(), &named) != 0
                || held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
                ::close(fd);
                if (++retries < 5)
                    --place;
                continue;
            }
            *heldPath = path;
            *heldFd = fd;
            // For whoever cannot read the kernel's list of locks.
            const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
            if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) < 0)
                ::ftruncate(fd, 0);
            return;
        }
        const int error = errno;
        struct stat st = {};
        ::fstat(fd, &st);
        char written[24] = {};
        const ssize_t got = ::pread(fd, written, sizeof written - 1, 0);
        ::close(fd);
        if (error == EWOULDBLOCK) {
            *holder = flockHolder(st.st_dev, st.st_ino);
            if (*holder == 0 && got > 0)
                *holder = QByteArray(written).trimmed().toLongLong();
            // Held, though neither said by whom.
            if (*holder <= 0)
                *holder = -1;
            return;
        }
    }
}

void release(const QByteArray &path, int fd)
{
    if (fd < 0)
        return;
    // Removed while still held, so no one locks a name about to go. A file
    // another user made stays (the folder's sticky bit keeps it theirs).
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid())
        ::unlink(path.constData());
    ::close(fd);
}

QByteArray fileId(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(qulonglong(st.st_dev)) + '-' + QByteArray::number(qulonglong(st.st_ino));
}

} // namespace

RecordingLock::RecordingLock(const QString &recording) : RecordingLock(recording, QString(), QString()) { }

RecordingLock::RecordingLock(const RunRequest &request)
    : RecordingLock(request.recording, request.outDir(), request.baseName())
{ }

RecordingLock::RecordingLock(const QString &recording, const QString &workFolder, const QString &baseName)
    : m_name(pathtext::lastComponent(recording))
{
    const QByteArray id = fileId(recording);
    if (id.isEmpty())
        return;
    acquire("trimlet-" + id + ".lock", &m_path, &m_fd, &m_holder);
    const QByteArray folder = workFolder.isEmpty() ? QByteArray() : fileId(workFolder);
    if (m_fd < 0 || folder.isEmpty() || baseName.isEmpty())
        return;
    // Two recordings of one stem ("News 20.00 Uhr", "News 20.15 Uhr") in
    // one folder are handed the same lists by the detector, which names
    // them without the last dot's part whatever it is.
    const QByteArray stem =
        QCryptographicHash::hash(baseName.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    acquire("trimlet-" + folder + '-' + stem + ".lock", &m_workPath, &m_workFd, &m_holder);
    if (m_workFd < 0 && m_holder != 0) {
        m_sharedStem = baseName;
        release(m_path, m_fd);
        m_fd = -1;
    }
}
RecordingLock::~RecordingLock()
{
    release(m_workPath, m_workFd);
    release(m_path, m_fd);
}

QString RecordingLock::refusal() const
{
    if (!m_sharedStem.isEmpty())
        return QStringLiteral("%1 shares its work files (%2.txt, %2.edl) with a recording being processed by "
                              "another Trimlet (process %3): run it once that one has ended.")
            .arg(m_name, m_sharedStem, m_holder > 0 ? QString::number(m_holder) : QStringLiteral("unknown"));
    return QStringLiteral("%1 is being processed by another Trimlet (process %2).")
        .arg(m_name, m_holder > 0 ? QString::number(m_holder) : QStringLiteral("unknown"));
}
