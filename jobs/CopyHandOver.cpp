#include "jobs/CopyHandOver.h"

#include "core/PathText.h"
#include "jobs/WorkFiles.h"

#include <QFile>

CopyHandOver CopyHandOver::of(const RunRequest &request, const QString &copy, const trash::FileState &read,
                              const QString &outcome)
{
    if (copy.isEmpty())
        return {true, copy, outcome};
    if (request.mode != RunRequest::Mode::SkipList && !(trash::FileState::of(request.recording) == read)) {
        // A DVR still writing it: the copy holds what was there when it
        // was read, which is not the recording, so it is not kept.
        QFile::remove(copy);
        return {false, QString(),
                QStringLiteral("%1 changed while it was cut (is it still being written?), so its copy "
                               "was not kept.")
                    .arg(pathtext::lastComponent(request.recording))};
    }
    if (!request.replace || request.mode != RunRequest::Mode::Cut)
        return {true, copy, outcome};
    // Only here, with the copy checked and named and the work files
    // erased: a copy that was refused never comes this far.
    const trash::Outcome put = trash::replaceWithCopy(request.recording, copy, read, request.keepOriginal);
    QString text = outcome.isEmpty() ? put.message : outcome + QLatin1Char(' ') + put.message;
    if (!put.replaced)
        return {false, copy, text};
    // Lists beside it give the times of the recording before its cut: a
    // player that skipped by them would skip the programme instead.
    const QStringList retired = WorkFiles(request.outDir(), request.baseName()).retireLists();
    if (!retired.isEmpty())
        text += QStringLiteral(" Its lists of breaks, which give the times before the cut, are kept as %1.")
                    .arg(retired.join(QStringLiteral(", ")));
    return {true, request.recording, text};
}
