#include "jobs/Trash.h"

#include "core/PathText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Written here rather than through a desktop's trash service: a DVR's
// service user has no session bus, and QFile::moveToTrash puts a file of
// another volume in the home trash by copying it, which on a DVR's disk is
// hours of writing and twice the space for a while.

namespace trash {

namespace {

QByteArray bytes(const QString &path)
{
    return QFile::encodeName(path);
}

bool statOf(const QString &path, struct stat *st)
{
    return ::stat(bytes(path).constData(), st) == 0;
}

QString errorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The user's data folder by its variables alone: QStandardPaths answers
// "/.local/share" for a service user started without HOME.
QString dataHome()
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (xdg.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(xdg);
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')) && home != QLatin1String("/"))
        return QDir::cleanPath(home) + QStringLiteral("/.local/share");
    return QString();
}

// A folder of the trash, made private when missing; one that exists must
// be a real folder of this user's, not a link someone planted.
bool ownFolder(const QString &path)
{
    ::mkdir(bytes(path).constData(), 0700);
    struct stat st;
    return ::lstat(bytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool withFolders(const QString &trash)
{
    return ownFolder(trash) && ownFolder(trash + QStringLiteral("/files"))
           && ownFolder(trash + QStringLiteral("/info"));
}

bool sameDevice(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return statOf(a, &sa) && statOf(b, &sb) && sa.st_dev == sb.st_dev;
}

} // namespace

QString trashFor(const QString &path, QString *why)
{
    struct stat file;
    if (!statOf(path, &file)) {
        if (why)
            *why = errorText();
        return QString();
    }
    const QString data = dataHome();
    if (!data.isEmpty()) {
        // The device of the data folder, or of the nearest folder above it
        // that exists: a first trashing makes the rest.
        QString existing = data;
        struct stat st;
        while (!statOf(existing, &st) && existing != QLatin1String("/"))
            existing = pathtext::deletingLastComponent(existing);
        if (st.st_dev == file.st_dev && QDir().mkpath(data) && withFolders(data + QStringLiteral("/Trash")))
            return data + QStringLiteral("/Trash");
    }
    const QString top = QStorageInfo(path).rootPath();
    const QString uid = QString::number(::getuid());
    // An administrator's shared .Trash counts only as the freedesktop Trash
    // rules have it: a real folder, with the sticky bit.
    const QString shared = (top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash");
    struct stat st;
    if (::lstat(bytes(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)
        && withFolders(shared + QLatin1Char('/') + uid) && sameDevice(shared, path))
        return shared + QLatin1Char('/') + uid;
    const QString own = (top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash-") + uid;
    if (withFolders(own) && sameDevice(own, path))
        return own;
    if (why)
        *why = data.isEmpty() ? QStringLiteral("there is no home (HOME is not set) and %1 cannot be made")
                                    .arg(QDir::toNativeSeparators(own))
                              : QStringLiteral("neither %1/Trash nor %2 can take it on its own file system")
                                    .arg(QDir::toNativeSeparators(data), QDir::toNativeSeparators(own));
    return QString();
}

FileState FileState::of(const QString &path)
{
    struct stat st;
    if (!statOf(path, &st))
        return {};
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString cannotReplace(const QString &recording, const QString &copy, const QString &keepDir)
{
    const QString name = pathtext::lastComponent(recording);
    if (pathtext::extension(copy).compare(pathtext::extension(recording), Qt::CaseInsensitive) != 0)
        return QStringLiteral("it is in another container than %1, and a DVR would read it by the wrong name")
            .arg(name);
    struct stat rec;
    if (::lstat(bytes(recording).constData(), &rec) != 0)
        return errorText();
    if (S_ISLNK(rec.st_mode))
        return QStringLiteral("%1 is a link; the file it names is left where it is").arg(name);
    if (!S_ISREG(rec.st_mode))
        return QStringLiteral("only a plain file is put in another's place");
    if (!sameDevice(pathtext::deletingLastComponent(QDir(copy).absolutePath()), recording))
        return QStringLiteral("it is on another file system than %1").arg(name);
    if (!keepDir.isEmpty()) {
        const QString folder = QDir::cleanPath(QDir(keepDir).absolutePath());
        if (!sameDevice(folder, recording))
            return QStringLiteral("%1 is on another file system than %2")
                .arg(QDir::toNativeSeparators(folder), name);
        return QString();
    }
    // Its record in the trash is NAME.trashinfo, which must fit a name too.
    if (bytes(name).size() + int(sizeof(".trashinfo")) - 1 > NAME_MAX)
        return QStringLiteral(
            "its name is too long for its record in the trash; name a folder to keep it in");
    QString why;
    if (trashFor(recording, &why).isEmpty())
        return QStringLiteral("there is no trash for it: %1").arg(why);
    return QString();
}

Outcome replaceWithCopy(const QString &recording, const QString &copy, const FileState &asRead,
                        const QString &keepDir)
{
    Outcome out;
    const QString name = pathtext::lastComponent(recording);
    const QString copyName = pathtext::lastComponent(copy);
    const auto keepBoth = [&](const QString &why) {
        out.message =
            QStringLiteral("%1 did not take the recording's place: %2. Both are kept.").arg(copyName, why);
        return out;
    };
    if (!(FileState::of(recording) == asRead))
        return keepBoth(
            QStringLiteral("%1 has changed since it was read (is it still being written?)").arg(name));
    if (const QString why = cannotReplace(recording, copy, keepDir); !why.isEmpty())
        return keepBoth(why);
    struct stat cp;
    if (::lstat(bytes(copy).constData(), &cp) != 0 || !S_ISREG(cp.st_mode))
        return keepBoth(QStringLiteral("the copy is not a plain file"));
    // In the recording's place, with the recording's group and mode: a
    // DVR's group shares its recordings with its clients and their users.
    struct stat rec;
    if (::stat(bytes(recording).constData(), &rec) == 0) {
        if (rec.st_gid != cp.st_gid)
            (void)::chown(bytes(copy).constData(), uid_t(-1), rec.st_gid);
        ::chmod(bytes(copy).constData(), rec.st_mode & 07777);
    }

    QString folder, why;
    if (!keepDir.isEmpty()) {
        folder = QDir::cleanPath(QDir(keepDir).absolutePath());
        if (!sameDevice(folder, recording))
            return keepBoth(QStringLiteral("%1 is on another file system than %2")
                                .arg(QDir::toNativeSeparators(folder), name));
    } else {
        const QString trash = trashFor(recording, &why);
        if (trash.isEmpty())
            return keepBoth(QStringLiteral("there is no trash for it: %1").arg(why));
        folder = trash + QStringLiteral("/files");
    }

    // In the trash, a name is taken by its .trashinfo first, made only if
    // new, so that two trashings at once never share one.
    QString target, info;
    const QString stem = pathtext::deletingExtension(name);
    const QString ext = pathtext::extension(name);
    bool linked = false, moved = false;
    for (int n = 1; n < 1000 && !linked && !moved; ++n) {
        const QString candidate = n == 1          ? name
                                  : ext.isEmpty() ? QStringLiteral("%1.%2").arg(name).arg(n)
                                                  : QStringLiteral("%1.%2.%3").arg(stem).arg(n).arg(ext);
        target = folder + QLatin1Char('/') + candidate;
        if (keepDir.isEmpty()) {
            info = pathtext::deletingLastComponent(folder) + QStringLiteral("/info/") + candidate
                   + QStringLiteral(".trashinfo");
            QFile record(info);
            if (!record.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                if (record.exists())
                    continue;
                return keepBoth(
                    QStringLiteral("its record in the trash cannot be made: %1").arg(record.errorString()));
            }
            // Absolute, which every reader of a trash takes, whichever
            // trash it is in.
            const QString original = QDir::cleanPath(QDir(recording).absolutePath());
            record.write(
                "[Trash Info]\nPath=" + bytes(original).toPercentEncoding("/") + "\nDeletionDate="
                + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1()
                + "\n");
            if (!record.flush()) {
                record.remove();
                return keepBoth(QStringLiteral("its trash record could not be written"));
            }
        }
        // A second name for the recording first, so that it is never
        // without one; where there can be none (a file system without hard
        // links, or a recording of another user's under the kernel's
        // protected_hardlinks), a move that replaces nothing.
        if (::link(bytes(recording).constData(), bytes(target).constData()) == 0) {
            linked = true;
        } else if (errno != EEXIST
                   && ::renameat2(AT_FDCWD, bytes(recording).constData(), AT_FDCWD, bytes(target).constData(),
                                  RENAME_NOREPLACE)
                          == 0) {
            moved = true;
        } else {
            const int err = errno;
            if (!info.isEmpty())
                QFile::remove(info);
            if (err != EEXIST || !keepDir.isEmpty()) {
                errno = err;
                return keepBoth(QStringLiteral("%1 cannot be made: %2")
                                    .arg(QDir::toNativeSeparators(target), errorText()));
            }
        }
    }
    if (!linked && !moved)
        return keepBoth(QStringLiteral("no free name in %1").arg(QDir::toNativeSeparators(folder)));

    if (::rename(bytes(copy).constData(), bytes(recording).constData()) != 0) {
        const QString error = errorText();
        if (linked)
            ::unlink(bytes(target).constData());
        else
            ::rename(bytes(target).constData(), bytes(recording).constData());
        if (!info.isEmpty())
            QFile::remove(info);
        return keepBoth(error);
    }
    out.replaced = true;
    out.recordingNowAt = target;
    out.message = QStringLiteral("The copy took the recording's place as %1; the recording is in %2.")
                      .arg(name, QDir::toNativeSeparators(target));
    return out;
}

} // namespace trash
