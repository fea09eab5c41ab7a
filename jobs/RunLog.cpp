#include "jobs/RunLog.h"

#include "core/Diagnostics.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kHeader[] = "==== Trimlet (process ";
constexpr char kFor[] = " for: ";
// A header that had to end the line of the text before it first says so,
// so that taking the run's part out gives the text back byte for byte.
constexpr char kEndedLine[] = ", after a line it ended";

// The recording's path on one line, every byte of it told apart: a name
// may hold a line feed, and a header is one line.
QByteArray ownerOf(const QString &recording)
{
    const QByteArray bytes = QFile::encodeName(QFileInfo(recording).absoluteFilePath());
    QByteArray out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (u < 0x20 || u == 0x7f)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

// The recording a header line names; empty for any other line.
QByteArray ownerIn(const char *line, qsizetype length)
{
    const QByteArray text = QByteArray::fromRawData(line, length);
    if (!text.startsWith(kHeader))
        return QByteArray();
    const qsizetype at = text.indexOf(kFor);
    return at < 0 ? QByteArray() : QByteArray(text.mid(at + qsizetype(sizeof kFor) - 1));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

void lock(int fd)
{
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) { }
}

} // namespace

RunLog::~RunLog()
{
    close();
}

bool RunLog::open(const QString &dir, const QString &recording)
{
    close();
    if (dir.isEmpty())
        return false;
    m_path = dir + QLatin1Char('/') + fileName();
    m_owner = ownerOf(recording);
    m_started = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    if (!openFile())
        return false;
    append(QByteArray(),
           kHeader + QByteArray::number(qint64(::getpid())) + ") at " + m_started + kFor + m_owner + '\n');
    return true;
}

bool RunLog::openFile()
{
    const QByteArray name = QFile::encodeName(m_path);
    const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(name.constData(), flags | O_CREAT | O_NOFOLLOW, 0666);
        struct stat st = {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            m_fd = fd;
            return true;
        }
        const bool link = (fd < 0 && errno == ELOOP) || (fd >= 0 && S_ISREG(st.st_mode) && st.st_nlink > 1);
        if (fd >= 0)
            ::close(fd);
        // A link planted under the log's name goes, not what it points
        // at; the new file is made exclusively, so nothing is written
        // through a link. Anything else there (a folder) means no log.
        if (!link || ::unlink(name.constData()) != 0)
            return false;
        fd = ::open(name.constData(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            m_fd = fd;
            return true;
        }
    }
    return false;
}

bool RunLog::isCurrent() const
{
    struct stat held = {};
    struct stat named = {};
    return ::fstat(m_fd, &held) == 0 && ::lstat(QFile::encodeName(m_path).constData(), &named) == 0
           && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void RunLog::write(const QByteArray &bytes)
{
    if (m_fd < 0 || bytes.isEmpty())
        return;
    append(bytes, kHeader + QByteArray::number(qint64(::getpid())) + ") at " + m_started + ", continued"
                      + kFor + m_owner + '\n');
}

void RunLog::append(const QByteArray &bytes, const QByteArray &header)
{
    for (int attempt = 0; attempt < 2 && m_fd >= 0; ++attempt) {
        lock(m_fd);
        if (!isCurrent()) {
            // Erased by another run while this one held it: start again
            // under the name.
            ::close(m_fd);
            m_fd = -1;
            m_end = -1;
            if (!openFile())
                return;
            continue;
        }
        struct stat st = {};
        QByteArray out;
        if (::fstat(m_fd, &st) == 0 && qint64(st.st_size) != m_end) {
            char last = '\n';
            if (st.st_size > 0 && ::pread(m_fd, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            // A piece of another run's that did not end its line is ended
            // here, so that the header stands on a line of its own.
            if (last != '\n') {
                QByteArray marked = header;
                marked.insert(marked.indexOf(kFor), kEndedLine);
                out += '\n' + marked;
            } else {
                out += header;
            }
        }
        out += bytes;
        m_end = writeAll(m_fd, out) && ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : -1;
        ::flock(m_fd, LOCK_UN);
        return;
    }
}

void RunLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_end = -1;
}

void RunLog::erasePartsOf(const QString &dir, const QString &recording)
{
    if (dir.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(dir + QLatin1Char('/') + fileName());
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat st = {};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        ::close(fd);
        return;
    }
    lock(fd);
    const QByteArray all = ::fstat(fd, &st) == 0 && st.st_size > 0 ? file.read(st.st_size) : QByteArray();
    const QByteArray owner = ownerOf(recording);
    // Each line belongs to the run whose header came last before it; the
    // lines before any header (an older Trimlet's log) to none.
    QByteArray kept;
    QByteArray current;
    bool keepFile = false;
    bool lastKept = false;
    for (qsizetype from = 0; from < all.size();) {
        const qsizetype feed = all.indexOf('\n', from);
        const qsizetype end = feed < 0 ? all.size() : feed + 1;
        const QByteArray named = ownerIn(all.constData() + from, (feed < 0 ? all.size() : feed) - from);
        if (!named.isEmpty()) {
            current = named;
            const QByteArray line = QByteArray::fromRawData(all.constData() + from, end - from);
            if (named == owner && line.left(line.indexOf(kFor)).endsWith(kEndedLine) && lastKept
                && kept.endsWith('\n'))
                kept.chop(1);
        }
        lastKept = current != owner;
        if (lastKept) {
            kept += QByteArray::fromRawData(all.constData() + from, end - from);
            keepFile =
                keepFile || !QByteArray::fromRawData(all.constData() + from, end - from).trimmed().isEmpty();
        }
        from = end;
    }
    struct stat named = {};
    const bool same =
        ::lstat(name.constData(), &named) == 0 && named.st_ino == st.st_ino && named.st_dev == st.st_dev;
    if (same && !keepFile) {
        ::unlink(name.constData());
    } else if (same && kept.size() != all.size()) {
        // Rewritten in place, under the lock every writer takes: the other
        // runs keep the file they hold open, and its owner and mode stay.
        const bool rewritten = ::pwrite(fd, kept.constData(), size_t(kept.size()), 0) == kept.size()
                               && ::ftruncate(fd, kept.size()) == 0;
        if (!rewritten)
            logLine(QStringLiteral("the run log could not be rewritten without the parts of ") + recording);
    }
    ::flock(fd, LOCK_UN);
    file.close();
    ::close(fd);
}
