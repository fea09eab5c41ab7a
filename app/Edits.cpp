// The user's corrections of the detector's list: written to the work files
// the readers and the cutter use, with the detector's own list kept beside
// them so that it can be brought back.

#include "app/AppController.h"

#include "chart/VideoGraph.h"
#include "core/AtomicWrite.h"
#include "core/BreakList.h"
#include "core/Diagnostics.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <cstdio>

bool AppController::haveEditedList() const
{
    return !m_baseName.isEmpty() && QFileInfo::exists(workFile(QStringLiteral("detected.txt")));
}

CommercialList AppController::detectedCommercials() const
{
    return results::parseFrameList(
               readWorkFile(haveEditedList() ? QStringLiteral("detected.txt") : QStringLiteral("txt")))
        .commercials;
}

QString AppController::breaksSummary() const
{
    if (!haveEditedList() || !m_commercials)
        return QString();
    const CommercialList detected = detectedCommercials();
    const int edited = breaks::editedCount(*m_commercials, detected);
    return QStringLiteral("%1 of %2 detected breaks, %3 edited")
        .arg(breaks::cutCount(*m_commercials))
        .arg(detected.size())
        .arg(edited);
}

bool AppController::applyBreaks(const CommercialList &list)
{
    if (m_baseName.isEmpty() || m_totalRows <= 0 || !(m_fps > 0) || m_processState != kStateIdle)
        return false;
    // The detector's own list is kept once, before the first edit.
    for (const char *ext : {"txt", "edl"}) {
        const QString original = workFile(QStringLiteral("detected.") + QLatin1String(ext));
        if (!QFileInfo::exists(original) && QFileInfo::exists(workFile(QLatin1String(ext))))
            QFile::copy(workFile(QLatin1String(ext)), original);
    }
    CommercialList approved = list;
    breaks::recompute(approved);
    if (!writePairAtomically(workFile(QStringLiteral("txt")),
                             breaks::frameListText(m_totalRows, m_fps, approved),
                             workFile(QStringLiteral("edl")), breaks::edlText(m_fps, approved))) {
        setStatus(QStringLiteral("The edited list could not be written beside the recording."));
        return false;
    }
    QStringList names;
    for (const char *ext : {"txt", "edl", "detected.txt", "detected.edl"})
        names << m_baseName + QLatin1Char('.') + QLatin1String(ext);
    recordWorkFiles(names);
    logLine(QStringLiteral("applyBreaks: %1 breaks, %2 cut")
                .arg(approved.size())
                .arg(breaks::cutCount(approved)));
    if (!m_commercials)
        m_commercials = std::make_shared<CommercialList>();
    *m_commercials = approved;
    m_commercialsFound = breaks::cutCount(approved);
    setHaveCommercials(m_haveResults && m_commercialsFound > 0);
    if (graph)
        graph->commercialsChanged();
    const CommercialList detected = detectedCommercials();
    setStatus(QStringLiteral("%1 of %2 detected breaks will be cut, %3 edited.")
                  .arg(m_commercialsFound)
                  .arg(detected.size())
                  .arg(breaks::editedCount(approved, detected)));
    emit workFilesChanged();
    return true;
}

bool AppController::revertToDetection()
{
    if (!haveEditedList() || m_processState != kStateIdle)
        return false;
    for (const char *ext : {"txt", "edl"}) {
        const QString original = workFile(QStringLiteral("detected.") + QLatin1String(ext));
        if (QFileInfo::exists(original))
            std::rename(QFile::encodeName(original).constData(),
                        QFile::encodeName(workFile(QLatin1String(ext))).constData());
    }
    readEDLData();
    readTXTData();
    emit workFilesChanged();
    return true;
}
