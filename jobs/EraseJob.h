#pragma once

#include "jobs/Job.h"
#include "jobs/WorkFiles.h"

// Erases what the recording's runs wrote beside it, as its manifest lists
// them, and hidden partial copies beside the output; nothing else.
class EraseJob : public Job
{
    Q_OBJECT
public:
    EraseJob(WorkFiles files, QString output, QObject *parent = nullptr);
    void start() override;

protected:
    void toolOutput(const QString &) override { }
    void toolEnded(int, bool, bool) override { }

private:
    WorkFiles m_files;
    QString m_output;
};
