#include "jobs/EraseJob.h"

#include "jobs/CutJob.h"

#include <QFile>

EraseJob::EraseJob(WorkFiles files, QString output, QObject *parent)
    : Job(parent), m_files(std::move(files)), m_output(std::move(output))
{ }

void EraseJob::start()
{
    setRunning();
    emit message(QStringLiteral("Erasing the work files…"));
    // Left by a cut that Trimlet did not live to finish.
    for (const QString &path : CutJob::partialCopiesOf(m_output))
        QFile::remove(path);
    m_files.erase();
    finish(Status::Succeeded, outcome());
}
