#include "jobs/PartialCopy.h"

#include "core/AtomicWrite.h"
#include "jobs/SavedCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>

namespace {
constexpr char kPartialMarker[] = ".trimlet-";
} // namespace

PartialCopy::Created PartialCopy::create(const QString &output)
{
    discard();
    const QFileInfo out(output);
    QTemporaryFile partial(out.absolutePath() + QStringLiteral("/.") + out.fileName()
                           + QLatin1String(kPartialMarker) + QStringLiteral("XXXXXX"));
    partial.setAutoRemove(false);
    if (!partial.open())
        return Created::NotWritable;
    // The copy gets what the user's umask gives a new file, as any other
    // program's would: a household group may manage it, or the world may
    // not read it.
    ::fchmod(partial.handle(), mode_t(newFilePermissions()));
    m_path = partial.fileName();
    partial.close();
    // Where the hidden name does not fit, Qt opens a file with no name at
    // all; a cutter is never handed anything but a hidden name of its own,
    // least of all the copy's.
    const QString prefix = QLatin1Char('.') + out.fileName() + QLatin1String(kPartialMarker);
    if (!QFileInfo(m_path).fileName().startsWith(prefix)
        || QFileInfo(m_path).absolutePath() != out.absolutePath()) {
        m_path.clear();
        return Created::NameTooLong;
    }
    return Created::Yes;
}

void PartialCopy::discard()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
    m_path.clear();
}

void PartialCopy::removeStale(const QString &output) const
{
    for (const QString &path : savedcopy::partialCopiesOf(output))
        if (path != m_path)
            QFile::remove(path);
}
