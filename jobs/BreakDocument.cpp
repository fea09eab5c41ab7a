#include "jobs/BreakDocument.h"

#include "core/AtomicWrite.h"
#include "core/BreakList.h"
#include "core/Diagnostics.h"
#include "jobs/WorkFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

BreakDocument::BreakDocument(QObject *parent) : QObject(parent) { }

void BreakDocument::setRecording(const Recording &recording)
{
    m_recording = recording;
}

bool BreakDocument::reload()
{
    const std::optional<results::FrameList> frames = m_recording.frameList();
    m_totalRows = frames ? frames->totalRows : 0;
    m_fps = frames ? frames->fps : 0.0f;
    // Refilled in place: the chart and the table hold this very list.
    if (frames)
        *m_list = frames->commercials;
    emit changed();
    return frames.has_value();
}

int BreakDocument::cutCount() const
{
    return breaks::cutCount(*m_list);
}

bool BreakDocument::apply(const CommercialList &list)
{
    const Recording &r = m_recording;
    if (r.baseName().isEmpty() || m_totalRows <= 0 || !(m_fps > 0))
        return false;
    // The detector's own list is kept once, before the first edit.
    for (const char *ext : {"txt", "edl"}) {
        const QString original = r.workFile(QStringLiteral("detected.") + QLatin1String(ext));
        if (!QFileInfo::exists(original) && QFileInfo::exists(r.workFile(QLatin1String(ext))))
            QFile::copy(r.workFile(QLatin1String(ext)), original);
    }
    CommercialList approved = list;
    breaks::recompute(approved);
    if (!writePairAtomically(r.workFile(QStringLiteral("txt")),
                             breaks::frameListText(m_totalRows, m_fps, approved),
                             r.workFile(QStringLiteral("edl")), breaks::edlText(m_fps, approved)))
        return false;
    QStringList names;
    for (const char *ext : {"txt", "edl", "detected.txt", "detected.edl"})
        names << r.baseName() + QLatin1Char('.') + QLatin1String(ext);
    WorkFiles(r.outDir(), r.baseName()).record(names);
    logLine(QStringLiteral("applyBreaks: %1 breaks, %2 cut")
                .arg(approved.size())
                .arg(breaks::cutCount(approved)));
    *m_list = approved;
    emit changed();
    return true;
}

bool BreakDocument::revert()
{
    if (!m_recording.haveEditedList())
        return false;
    for (const char *ext : {"txt", "edl"}) {
        const QString original = m_recording.workFile(QStringLiteral("detected.") + QLatin1String(ext));
        if (QFileInfo::exists(original))
            std::rename(QFile::encodeName(original).constData(),
                        QFile::encodeName(m_recording.workFile(QLatin1String(ext))).constData());
    }
    reload();
    return true;
}
