// The outside tools as a run finds them, and their argument vectors as the
// window's options would have them now.

#include "app/AppController.h"

#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"

QString AppController::toolPath(const QString &name) const
{
    // A bare name is what the runner reports as not found.
    const QString path = m_toolLocator.pathForAuxiliaryExecutable(name);
    return path.isEmpty() ? name : path;
}

QStringList AppController::detectArguments() const
{
    return DetectJob::arguments(runRequest(true, false, false));
}

QStringList AppController::removeArguments(const QString &output, const QString &cutList) const
{
    return CutJob::mencoderArguments(runRequest(false, true, false), output, cutList);
}
