#include "jobs/SavedCopy.h"

#include "core/Diagnostics.h"
#include "jobs/WorkFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace savedcopy {

namespace {

// Which recording a copy was made from. An extended attribute travels with
// the copy through a rename, a move on one disk and a backup with xattrs,
// costs no file of its own beside it, and cannot be planted for a file
// the planter could not write anyway. Where the file system keeps no user
// attributes (FAT, some network mounts) nothing is recorded, and such a
// copy counts as the user's own: it is only ever replaced when asked.
constexpr char kSourceAttribute[] = "user.trimlet.source";

// The recording as a file, whatever its names: device and inode.
QByteArray sourceId(const QString &recording)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(recording).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
}

} // namespace

bool isRecording(const QString &output, const QString &recording)
{
    if (output.isEmpty() || recording.isEmpty())
        return false;
    // The same file under another name (a link, a hard link, "./") counts.
    return sameFile(recording, output)
           || QFileInfo(output).absoluteFilePath() == QFileInfo(recording).absoluteFilePath();
}

QStringList partialCopiesOf(const QString &output)
{
    if (output.isEmpty())
        return {};
    const QFileInfo out(output);
    return hiddenNamesOf(out.absolutePath(), {out.fileName()});
}

bool madeFrom(const QString &copy, const QString &recording)
{
    const QByteArray id = sourceId(recording);
    if (id.isEmpty())
        return false;
    char value[64] = {};
    const ssize_t size =
        ::getxattr(QFile::encodeName(copy).constData(), kSourceAttribute, value, sizeof value);
    return size > 0 && QByteArray(value, int(size)) == id;
}

QString takeName(const QString &partial, const QString &output, const QString &recording, bool replaceOthers,
                 const QString &noun)
{
    // The checked copy takes the output's name in one step; an earlier
    // file of that name stays whole until then.
    const QByteArray from = QFile::encodeName(partial);
    const QByteArray to = QFile::encodeName(output);
    const QByteArray source = sourceId(recording);
    if (!source.isEmpty()
        && ::setxattr(from.constData(), kSourceAttribute, source.constData(), size_t(source.size()), 0) != 0)
        logLine(QStringLiteral("keepCopy: no record of the copy's recording: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    // A file that took the copy's name while it was cut (another Trimlet's
    // copy into the same folder, the user's own) is kept unless it is this
    // recording's earlier copy or the user said it may go: the name is
    // taken only where it is free, in one step, so that nothing slips in
    // between a look and the rename.
    int renamed = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (renamed != 0 && (errno == EEXIST || errno == EINVAL || errno == ENOSYS)) {
        // EINVAL, ENOSYS: a file system that cannot rename without replacing.
        const bool taken = errno == EEXIST || QFileInfo::exists(output) || QFileInfo(output).isSymLink();
        if (taken && !replaceOthers && !madeFrom(output, recording))
            return QStringLiteral(
                       "%1 appeared while the %2 was made, and Trimlet did not make it from %3: it "
                       "is kept, and the %2 was not saved.")
                .arg(QFileInfo(output).fileName(), noun, QFileInfo(recording).fileName());
        renamed = ::rename(from.constData(), to.constData());
    }
    if (renamed != 0)
        return QStringLiteral("The %1 could not be saved as %2: %3.")
            .arg(noun, QFileInfo(output).fileName(), QString::fromLocal8Bit(std::strerror(errno)));
    return QString();
}

} // namespace savedcopy
