#pragma once

#include "core/RunRequest.h"
#include "jobs/Job.h"
#include "jobs/WorkFiles.h"

#include <QByteArray>
#include <QVariantMap>

#include <optional>

// The detector's step: its settings written as an ini file beside the
// recording, the lists it will replace set aside, comskip run with its
// progress read line by line, and its exit status told in words. The lists
// set aside come back when it fails or is stopped.
class DetectJob : public Job
{
    Q_OBJECT
public:
    explicit DetectJob(const RunRequest &request, QObject *parent = nullptr);

    void start() override;
    // comskip's argument vector for the request.
    static QStringList arguments(const RunRequest &request);
    // The settings as comskip reads them: "key=value" lines, empty texts
    // left out; none when a value is not ASCII, which comskip cannot read.
    static std::optional<QByteArray> iniText(const QVariantMap &settings);
    // The breaks the detector's cut list holds, once it has succeeded.
    int commercialsFound() const { return m_found; }

protected:
    void toolOutput(const QString &chunk) override;
    void toolEnded(int rc, bool stopped, bool launchFailed) override;

private:
    // Less than this free beside the recording counts as a full disk: a
    // frame list and its EDL take a few kilobytes.
    static constexpr qint64 kFullDiskBytes = 1024 * 1024;
    QString listsRefusal() const;

    RunRequest m_request;
    WorkFiles m_files;
    QList<WorkFiles::SetAside> m_setAside;
    int m_found = 0;
};

// A path a tool could take for one of its options, made unmistakable.
QString asOperand(const QString &path);
