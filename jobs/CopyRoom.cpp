#include "jobs/CopyRoom.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <algorithm>

#include <sys/stat.h>

namespace {

// One file system, whatever mount shows it: a bind mount (systemd's
// PrivateTmp) has a root of its own but fills with the disk under it.
bool sameDisk(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0
           && ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

QString size(qint64 bytes)
{
    return QLocale().formattedDataSize(std::max<qint64>(0, bytes), 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

CopyRoom::CopyRoom(const QString &output, const QString &noun, qint64 recordingBytes, double keptSeconds,
                   double recordingSeconds)
    : m_folder(QFileInfo(output).absolutePath()),
      m_noun(noun),
      m_expected(qint64(double(recordingBytes) * std::min(1.0, keptSeconds / recordingSeconds) * 1.02))
{ }

QString CopyRoom::lacking() const
{
    const QStorageInfo disk(m_folder);
    if (!disk.isValid() || disk.bytesAvailable() >= m_expected)
        return QString();
    return QStringLiteral("There is not enough space for the %1 in %2: it needs about %3, and %4 are free.")
        .arg(m_noun, QDir::toNativeSeparators(m_folder), size(m_expected), size(disk.bytesAvailable()));
}

QString CopyRoom::lackingForPieces(const QString &folder) const
{
    const QStorageInfo disk(folder);
    if (!disk.isValid())
        return QString();
    // Pieces in a transport stream take about a twentieth more than the
    // same pictures in a program stream: a tenth is kept spare.
    const qint64 pieces = m_expected + m_expected / 10;
    const bool besideCopy = sameDisk(folder, m_folder);
    const qint64 needed = besideCopy ? pieces + m_expected : pieces;
    if (disk.bytesAvailable() >= needed)
        return QString();
    return QStringLiteral("There is not enough space for the pieces of the %1 in %2 (the temporary folder): "
                          "they need about %3%4, and %5 are free.")
        .arg(m_noun, QDir::toNativeSeparators(QFileInfo(folder).absolutePath()), size(pieces),
             besideCopy ? QStringLiteral(" beside the copy") : QString(), size(disk.bytesAvailable()));
}

QString CopyRoom::filled(const QString &toolOutput, qint64 written, const QString &pieces) const
{
    constexpr qint64 kAlmostNothing = 64 * 1024;
    const QStorageInfo disk(m_folder);
    const QLatin1String noSpace("No space left on device");
    const bool said = toolOutput.contains(noSpace);
    // The tool names the file it could not write, where it says so.
    const auto named = [&](const QString &folder) {
        for (const QStringView line : QStringView(toolOutput).split(QLatin1Char('\n')))
            if (line.contains(noSpace) && line.contains(folder))
                return true;
        return false;
    };
    // The pieces are still there when this is asked: a full temporary
    // folder is the one to name, not the copy's.
    if (!pieces.isEmpty()) {
        const QStorageInfo piecesDisk(pieces);
        const bool piecesNamed = named(pieces);
        const bool piecesFull = piecesDisk.isValid() && piecesDisk.bytesAvailable() < kAlmostNothing
                                && (said || piecesDisk.bytesAvailable() == 0) && !sameDisk(pieces, m_folder);
        if (piecesNamed || (piecesFull && !named(m_folder)))
            return QStringLiteral("The disk is full: the pieces of the %1 did not fit in %2 (the temporary "
                                  "folder, %3 left free).")
                .arg(m_noun, QDir::toNativeSeparators(QFileInfo(pieces).absolutePath()),
                     size(piecesDisk.bytesAvailable()));
    }
    if (!said && !(disk.isValid() && disk.bytesAvailable() < kAlmostNothing))
        return QString();
    return QStringLiteral(
               "The disk is full: the %1 did not fit in %2 (%3 written of about %4, %5 left free).")
        .arg(m_noun, QDir::toNativeSeparators(m_folder), size(written), size(m_expected),
             size(QStorageInfo(m_folder).bytesAvailable()));
}
