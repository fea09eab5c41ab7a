#pragma once

#include "jobs/RequestBuilder.h"

#include "app/RunOptions.h"
#include "core/RunRequest.h"
#include "process/ToolLocator.h"

#include <QStringList>
#include <QVariantMap>

class RecordingSession;

// What a run is asked to do besides its recording: the detector settings
// from the settings resource, the window's options laid over them, the
// profile chosen, and the outside tools as a run finds them.
class RunSettings
{
public:
    bool loadDetectionSettings(const QString &resourcePath);
    // Settings as a resource would give them.
    void setDetectionSettings(const QVariantMap &settings) { m_iniFileData = settings; }
    const QVariantMap &iniFileData() const { return m_iniFileData; }
    // The settings resource overlaid with the window's options and the
    // profile chosen, as a run hands them to the detector.
    QVariantMap detectorSettings() const;
    // Those under any profile: what a queue row's own profile is laid over.
    static QVariantMap underProfile(const QVariantMap &resource, const RunOptions &options)
    {
        return withDetectorOptions(resource, options);
    }
    // Whether mencoder is asked for as the cutter, for the output's name.
    bool setRunOptions(const RunOptions &options) { return (m_options = options).mencoderCutter; }
    const RunOptions &runOptions() const { return m_options; }
    int detectMethodMask() const { return m_options.detectMethods; }
    // The profile laid over the detector settings of each run (empty: the
    // defaults), and the profiles there are to choose from.
    void setProfile(const QString &name) { m_profile = name; }
    const QString &profile() const { return m_profile; }
    static QStringList profilesFound();
    // What Run would ask for now on the session's recording and output.
    RunRequest runRequest(const RecordingSession &session, bool detect, bool remove, bool erase) const;
    // The window's options and tools, for a request of any recording.
    RequestBuilder requestBuilder(const RecordingSession &session, bool detect, bool remove,
                                  bool erase) const;
    // The ini file a detection would write now, beside the session's recording.
    void writeIniFile(const RecordingSession &session) const;
    // The tools' argument vectors as the options would have them now (see
    // DetectJob::arguments, CutJob::mencoderArguments).
    QStringList detectArguments(const RecordingSession &session) const;
    QStringList removeArguments(const RecordingSession &session, const QString &output,
                                const QString &cutList) const;
    // A tool's path, or its bare name when it is nowhere to be found.
    QString toolPath(const QString &name) const;
    ToolLocator &toolLocator() { return m_toolLocator; }

private:
    QVariantMap m_iniFileData;
    RunOptions m_options;
    QString m_profile;
    ToolLocator m_toolLocator;
};
