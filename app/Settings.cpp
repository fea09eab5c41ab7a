// Detector settings: loaded once from the settings resource, overlaid with
// the window's options and written as the detector's ini file.

#include "app/RunSettings.h"

#include "app/RecordingSession.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/PropertyList.h"
#include "jobs/CutJob.h"
#include "jobs/DetectJob.h"
#include "jobs/DetectorSettings.h"
#include "jobs/Profiles.h"

#include <QDir>

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>

bool RunSettings::loadDetectionSettings(const QString &resourcePath)
{
    if (!QFile::exists(resourcePath))
        return false;
    // A resource of the wrong shape gives empty settings; the five
    // controlled keys are written all the same.
    m_iniFileData = mergeSettingGroups(readPropertyList(resourcePath));
    return true;
}

QVariantMap RunSettings::detectorSettings() const
{
    const QVariantMap settings = underProfile(m_iniFileData, m_options);
    // Over the window's options too, as the command line lays it over its own.
    if (!m_profile.isEmpty())
        if (const std::optional<profiles::Profile> chosen = profiles::find(m_profile, nullptr))
            return profiles::overlaid(settings, chosen->settings);
    return settings;
}

QStringList RunSettings::profilesFound()
{
    QStringList names;
    for (const QString &folder : profiles::folders())
        for (const QFileInfo &file :
             QDir(folder + QStringLiteral("/profiles"))
                 .entryInfoList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable))
            if (!names.contains(file.completeBaseName())
                && !file.completeBaseName().startsWith(QLatin1Char('.')))
                names << file.completeBaseName();
    names.sort(Qt::CaseInsensitive);
    return names;
}

RequestBuilder RunSettings::requestBuilder(const RecordingSession &session, bool detect, bool remove,
                                           bool erase) const
{
    RequestBuilder builder;
    builder.steps(detect, remove, erase)
        .mode(session.outputMode())
        .detectorSettings(detectorSettings(), m_profile)
        .cutterOptions(m_options.noSkip, m_options.edlSeek, m_options.mencoderCutter,
                       !m_options.mencoderCutter)
        .replaceRecording(session.replacesRecording())
        .toolsFrom(m_toolLocator);
    return builder;
}

RunRequest RunSettings::runRequest(const RecordingSession &session, bool detect, bool remove,
                                   bool erase) const
{
    RunRequest r =
        requestBuilder(session, detect, remove, erase).build(session.movieFile(), session.outputText());
    // The user was asked before an existing file under that name is replaced.
    r.replaceOthers =
        !r.output.isEmpty() && QFileInfo(r.output).absoluteFilePath() == session.confirmedOutput();
    return r;
}

void RunSettings::writeIniFile(const RecordingSession &session) const
{
    // The ini file a detection would write now, for a look at it without
    // running the detector.
    const std::optional<QByteArray> text = DetectJob::iniText(detectorSettings());
    const QString ini = session.workFiles().iniPath();
    if (text && writeAtomically(ini, *text))
        session.workFiles().record({QFileInfo(ini).fileName()});
}

QString RunSettings::toolPath(const QString &name) const
{
    // A bare name is what the runner reports as not found.
    const QString path = m_toolLocator.pathForAuxiliaryExecutable(name);
    return path.isEmpty() ? name : path;
}

QStringList RunSettings::detectArguments(const RecordingSession &session) const
{
    return DetectJob::arguments(runRequest(session, true, false, false));
}

QStringList RunSettings::removeArguments(const RecordingSession &session, const QString &output,
                                         const QString &cutList) const
{
    return CutJob::mencoderArguments(runRequest(session, false, true, false), output, cutList);
}
