#include "jobs/RawNames.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace rawnames {

namespace {

constexpr char kLogName[] = "TrimletLog.txt";
constexpr char kSourceAttribute[] = "user.trimlet.source";

bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff;
}

quint64 inodeOf(const QByteArray &path)
{
    struct stat st = {};
    return ::lstat(path.constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

bool isRegular(const QByteArray &path)
{
    struct stat st = {};
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Added on under the lock every writer of the log takes, with the
// stand-in's paths as the recording's bytes (a later run reads them to
// find its recording's part).
bool appendLog(const QByteArray &from, const QByteArray &to, const QByteArray &standIn,
               const QByteArray &real)
{
    QFile in(QFile::decodeName(from));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll().replace(standIn, real);
    const int fd = ::open(to.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::flock(fd, LOCK_EX);
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return written;
}

// Names in the folder, as bytes; "." and ".." left out.
std::vector<QByteArray> namesIn(const QByteArray &folder)
{
    std::vector<QByteArray> names;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// The copy takes its name; a file already there goes only when the user
// said so or it is an earlier copy of the same recording (the mark a
// checked copy carries names its recording's file).
bool moveCopy(const QByteArray &from, const QByteArray &to, bool overwrite)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    char ours[64] = {};
    char theirs[64] = {};
    const ssize_t a = ::getxattr(from.constData(), kSourceAttribute, ours, sizeof ours);
    const ssize_t b = ::getxattr(to.constData(), kSourceAttribute, theirs, sizeof theirs);
    const bool earlierCopy = a > 0 && a == b && std::memcmp(ours, theirs, size_t(a)) == 0;
    if (!overwrite && !earlierCopy) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

} // namespace

QString escaped(const QByteArray &bytes)
{
    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const uchar lead = uchar(bytes.at(i));
        const int length = lead < 0x80                    ? 1
                           : lead >= 0xc2 && lead <= 0xdf ? 2
                           : lead >= 0xe0 && lead <= 0xef ? 3
                           : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                          : 0;
        if (length > 0 && i + length <= bytes.size()) {
            const QByteArray piece = bytes.mid(i, length);
            const QString decoded = QString::fromUtf8(piece);
            // fromUtf8 turns overlong forms, surrogates and stray
            // continuation bytes into U+FFFD, which gives other bytes back.
            if (decoded.toUtf8() == piece) {
                text += decoded;
                i += length;
                continue;
            }
        }
        text += QChar(ushort(0xdc00 + lead));
        ++i;
    }
    return text;
}

QString shown(const QByteArray &bytes)
{
    QString text;
    for (const QChar c : escaped(bytes))
        text += isEscapedByte(c) ? QStringLiteral("\\x%1").arg(c.unicode() - 0xdc00, 2, 16, QLatin1Char('0'))
                                 : QString(c);
    return text;
}

QByteArray bytesOf(const QString &escapedText)
{
    QByteArray bytes;
    QString run;
    for (const QChar c : escapedText) {
        if (isEscapedByte(c)) {
            bytes += run.toUtf8();
            run.clear();
            bytes += char(c.unicode() - 0xdc00);
        } else {
            run += c;
        }
    }
    return bytes + run.toUtf8();
}

bool holdsBytes(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isEscapedByte);
}

QString recovered(const QString &path, QString *why)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return path;
    QByteArray bytes;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (i > 0)
            bytes += '/';
        if (!part.contains(QChar::ReplacementCharacter)) {
            bytes += bytesOf(part);
            continue;
        }
        // QDir lists names decoded, U+FFFD and all: only readdir(3) gives
        // the bytes the folder holds.
        std::vector<QByteArray> matches;
        for (const QByteArray &name : namesIn(bytes.isEmpty() ? QByteArray(".") : bytes))
            if (QFile::decodeName(name) == part)
                matches.push_back(name);
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        if (matches.size() != 1) {
            *why = matches.empty()
                       ? QStringLiteral("%1 cannot be found.").arg(name)
                       : QStringLiteral("%1 cannot be opened: its name is not UTF-8 text, and it "
                                        "cannot be told apart from another's in its folder. Rename "
                                        "it (for example with convmv) and open it again.")
                             .arg(name);
            return QString();
        }
        bytes += matches.front();
    }
    return escaped(bytes);
}

QString pathOf(const QUrl &url)
{
    // toLocalFile() decodes the bytes the percent signs stand for as UTF-8.
    return escaped(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString uriOf(const QString &escapedPath)
{
    return QStringLiteral("file://") + QString::fromLatin1(bytesOf(escapedPath).toPercentEncoding("/"));
}

bool exists(const QString &escapedPath)
{
    return ::access(bytesOf(escapedPath).constData(), F_OK) == 0;
}

QString cannotRun(const QByteArray &name, const QString &why)
{
    // A name of UTF-8 text lies in a folder whose name is not.
    if (QFile::encodeName(QFile::decodeName(name)) == name)
        return QStringLiteral("%1 cannot be run: its folder's name is not UTF-8 text. Rename the folder (for "
                              "example with convmv) and run it again.")
            .arg(shown(name));
    return QStringLiteral("%1 cannot be run: its name is not UTF-8 text, and %2. Rename it (for example with "
                          "convmv) and run it again.")
        .arg(shown(name), why);
}

std::unique_ptr<StandIn> StandIn::make(const QByteArray &rawPath, QString *why)
{
    const qsizetype slash = rawPath.lastIndexOf('/');
    std::unique_ptr<StandIn> s(new StandIn);
    s->m_folder = rawPath.left(slash + 1);
    s->m_name = rawPath.mid(slash + 1);
    if (QFile::encodeName(QFile::decodeName(s->m_folder)) != s->m_folder) {
        *why = QStringLiteral("its folder's name is not UTF-8 text either");
        return nullptr;
    }
    // "./" and "../" in the folder would make the run's own names, which
    // come back cleaned, strangers to the private folder's.
    s->m_folder = QFile::encodeName(QDir::cleanPath(QFile::decodeName(s->m_folder)));
    if (!s->m_folder.endsWith('/'))
        s->m_folder += '/';
    s->m_alias = s->standInName(s->m_name);
    s->sweep();
    QByteArray privateFolder = s->m_folder + ".trimlet-XXXXXX";
    if (!::mkdtemp(privateFolder.data())) {
        *why = QStringLiteral("no private folder could be made beside it (%1)").arg(systemError());
        return nullptr;
    }
    // Held before the recording is linked in: sweep() takes no live one.
    s->m_held = ::open(privateFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s->m_held >= 0)
        ::flock(s->m_held, LOCK_EX);
    s->m_private = QFile::decodeName(privateFolder) + QLatin1Char('/');
    const QByteArray alias = QFile::encodeName(s->m_private + s->m_alias);
    if (::link((s->m_folder + s->m_name).constData(), alias.constData()) != 0) {
        *why = QStringLiteral("its folder cannot hold a second name for it (%1)").arg(systemError());
        ::rmdir(privateFolder.constData());
        return nullptr;
    }
    // The lists and hidden work files of this recording: what a run beside
    // the recording would find there. Not the folder's log, which the run
    // would take for a planted link; its part is added on at the end.
    const qsizetype dot = s->m_name.lastIndexOf('.');
    const QByteArray stem = (dot > 0 ? s->m_name.left(dot) : s->m_name) + '.';
    for (const QByteArray &name : namesIn(s->m_folder)) {
        if (name == s->m_name || !isRegular(s->m_folder + name)
            || !(name.startsWith(stem) || name.startsWith('.' + stem)))
            continue;
        Linked l{name, s->standInName(name), 0};
        const QByteArray there = QFile::encodeName(s->m_private + l.standIn);
        if (::link((s->m_folder + name).constData(), there.constData()) == 0) {
            l.inode = inodeOf(there);
            s->m_linked.push_back(l);
        }
    }
    return s;
}

StandIn::~StandIn()
{
    // Whatever finish() could not carry out stays, for the user to see.
    ::rmdir(QFile::encodeName(m_private).constData());
    if (m_held >= 0)
        ::close(m_held);
}

void StandIn::sweep() const
{
    // A run killed (SIGKILL, a power cut) left its private folder: the one
    // that holds this recording and that no live stand-in holds (the kernel
    // let go of its lock). A checked copy (it carries the mark) takes its
    // real name where that is free, and the log is added on; the rest goes,
    // as a stop erases it: second names of the folder's files, whose own
    // names are untouched, and the dead run's work, whose record of what it
    // made, beside the recording, would claim the user's lists for erasing.
    struct stat st = {};
    if (::stat((m_folder + m_name).constData(), &st) != 0)
        return;
    const quint64 recording = quint64(st.st_ino);
    std::vector<quint64> own;
    std::vector<QByteArray> folders;
    for (const QByteArray &name : namesIn(m_folder)) {
        if (::lstat((m_folder + name).constData(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode))
            own.push_back(quint64(st.st_ino));
        else if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && name.startsWith(".trimlet-")
                 && name.size() == 15)
            folders.push_back(m_folder + name + '/');
    }
    for (const QByteArray &folder : folders) {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const std::vector<QByteArray> names = namesIn(folder);
        const bool ours = std::any_of(names.cbegin(), names.cend(),
                                      [&](const QByteArray &n) { return inodeOf(folder + n) == recording; });
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            for (const QByteArray &name : names) {
                const QByteArray from = folder + name;
                if (::lstat(from.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                    continue;
                const QByteArray to = m_folder + realName(QFile::decodeName(name));
                const bool linked = std::find(own.cbegin(), own.cend(), quint64(st.st_ino)) != own.cend();
                if (!linked && name == kLogName) {
                    if (appendLog(from, to, folder + QFile::encodeName(m_alias), m_folder + m_name))
                        ::unlink(from.constData());
                } else if (linked || ::getxattr(from.constData(), kSourceAttribute, nullptr, 0) <= 0) {
                    ::unlink(from.constData());
                } else {
                    // A copy whose name is taken stays in sight.
                    ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
                }
            }
            ::rmdir(folder.constData());
        }
        ::close(fd);
    }
}

QString StandIn::recording() const
{
    return m_private + m_alias;
}

QString StandIn::standInName(const QByteArray &realName) const
{
    QString name = escaped(realName);
    for (QChar &c : name)
        if (isEscapedByte(c))
            c = QLatin1Char('_');
    return name;
}

QByteArray StandIn::realName(const QString &standInName) const
{
    // What the run named after the recording begins with its stand-in's
    // name (or the stem of it, or a dot before it); that part takes the
    // recording's bytes.
    const QString real = escaped(m_name);
    const int lead =
        standInName.startsWith(QLatin1Char('.')) && !m_alias.startsWith(QLatin1Char('.')) ? 1 : 0;
    int k = 0;
    while (lead + k < standInName.size() && k < m_alias.size() && standInName.at(lead + k) == m_alias.at(k))
        ++k;
    return standInName.left(lead).toUtf8() + bytesOf(real.left(k)) + standInName.mid(lead + k).toUtf8();
}

bool StandIn::moveOut(const QString &name, bool isCopy, bool overwrite, QString *why)
{
    const QByteArray from = QFile::encodeName(m_private + name);
    const QByteArray to = m_folder + realName(name);
    if (name == QLatin1String(kLogName)
            ? appendLog(from, to, QFile::encodeName(recording()), m_folder + m_name)
                  && ::unlink(from.constData()) == 0
        : isCopy ? moveCopy(from, to, overwrite)
                 : ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (why)
        *why += QStringLiteral(" %1 could not take its name (%2).").arg(shown(to), systemError());
    return false;
}

bool StandIn::finish(const QString &copy, bool overwrite, QString *why)
{
    bool whole = true;
    // What the run found beside the recording: unchanged, renamed (a list
    // set aside under another name) or removed (its own earlier work).
    for (const Linked &l : m_linked) {
        const QByteArray here = QFile::encodeName(m_private + l.standIn);
        if (inodeOf(here) == l.inode) {
            ::unlink(here.constData());
            continue;
        }
        QString renamedTo;
        for (const QByteArray &name : namesIn(QFile::encodeName(m_private)))
            if (inodeOf(QFile::encodeName(m_private) + name) == l.inode)
                renamedTo = QFile::decodeName(name);
        const QByteArray real = m_folder + l.real;
        if (renamedTo.isEmpty()) {
            // Removed by the run: the same name removed, as long as it is
            // still the file the run saw.
            if (inodeOf(real) == l.inode)
                ::unlink(real.constData());
            continue;
        }
        const QByteArray to = m_folder + realName(renamedTo);
        if (::renameat2(AT_FDCWD, real.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
            ::unlink(QFile::encodeName(m_private + renamedTo).constData());
        } else {
            whole = false;
            *why += QStringLiteral(" %1 could not be renamed %2 (%3).")
                        .arg(shown(real), shown(to), systemError());
        }
    }
    const QString copyName = copy.startsWith(m_private) ? copy.mid(m_private.size()) : QString();
    for (const QByteArray &bytes : namesIn(QFile::encodeName(m_private))) {
        const QString name = QFile::decodeName(bytes);
        if (name == m_alias)
            continue;
        const bool isCopy = name == copyName;
        if (!moveOut(name, isCopy, overwrite, why))
            whole = false;
        else if (isCopy)
            m_copyMade = escaped(m_folder + realName(name));
    }
    // A copy written to another folder is named after the stand-in too.
    if (!copy.isEmpty() && copyName.isEmpty()) {
        const qsizetype slash = copy.lastIndexOf(QLatin1Char('/'));
        const QByteArray folder = QFile::encodeName(copy.left(slash + 1));
        const QByteArray to = folder + realName(copy.mid(slash + 1));
        if (moveCopy(QFile::encodeName(copy), to, overwrite)) {
            m_copyMade = escaped(to);
        } else {
            whole = false;
            m_copyMade = copy;
            *why += QStringLiteral(" %1 could not take its name (%2).").arg(shown(to), systemError());
        }
    }
    ::unlink(QFile::encodeName(recording()).constData());
    if (::rmdir(QFile::encodeName(m_private).constData()) != 0 && !whole)
        *why += QStringLiteral(" What could not be moved is in %1.").arg(shown(QFile::encodeName(m_private)));
    return whole;
}

QString StandIn::shownText(QString text) const
{
    const QString folder = shown(m_folder);
    const QString name = shown(m_name);
    text.replace(m_private, folder);
    // The stand-in's name, whole or its stem, as the recording's.
    const QString alias = m_alias;
    const qsizetype dot = alias.lastIndexOf(QLatin1Char('.'));
    text.replace(alias, name);
    if (dot > 0)
        text.replace(alias.left(dot) + QLatin1Char('.'), name.left(name.lastIndexOf(QLatin1Char('.')) + 1));
    return text;
}

} // namespace rawnames
