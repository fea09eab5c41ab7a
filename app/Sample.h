#pragma once

#include "process/TaskWrapper.h"

#include <QObject>

#include <memory>

// The short recording a newcomer can try Trimlet on, with two commercial
// breaks, made in the user's cache folder by the generator the tests use
// and kept there for next time.
class SampleRecording : public QObject, private TaskWrapperController
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SampleRecording() override;

    // Where the sample lies once made.
    static QString path();
    // The generator beside an installed trimlet (share/trimlet under its
    // prefix) or in the build tree; an empty string when neither has it.
    static QString generator();

    // Makes the sample in the background, or hands over at once the one
    // made before; a call while it is being made does nothing.
    void make();

signals:
    // What is being done, or what went wrong, in words for the status line.
    void statusChanged(const QString &text);
    void ready(const QString &path);

private:
    void processStarted() override { }
    void appendOutput(const QString &output) override;
    void processFinished(int status) override;
    void fail(const QString &why);

    std::unique_ptr<TaskWrapper> m_generator;
    QString m_output;
    bool m_leaving = false;
};
