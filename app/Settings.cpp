// Detector settings: loaded once from the settings resource, overlaid with
// the window's options and written as the detector's ini file.

#include "app/AppController.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/PropertyList.h"
#include "jobs/DetectJob.h"
#include "jobs/DetectorSettings.h"
#include "jobs/Profiles.h"

#include <QDir>

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>

bool AppController::loadDetectionSettings(const QString &resourcePath)
{
    if (!QFile::exists(resourcePath))
        return false;
    // A resource of the wrong shape gives empty settings; the five
    // controlled keys are written all the same.
    m_iniFileData = mergeSettingGroups(readPropertyList(resourcePath));
    return true;
}

QVariantMap AppController::detectorSettings() const
{
    DetectorOptions options = m_options;
    options.detectMethods = detectMethodMask();
    const QVariantMap settings = withDetectorOptions(m_iniFileData, options);
    // Over the window's options too, as the command line lays it over its own.
    if (!m_profile.isEmpty())
        if (const std::optional<profiles::Profile> chosen = profiles::find(m_profile, nullptr))
            return profiles::overlaid(settings, chosen->settings);
    return settings;
}

QStringList AppController::profilesFound()
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

RequestBuilder AppController::requestBuilder(bool detect, bool remove, bool erase) const
{
    RequestBuilder builder;
    builder.steps(detect, remove, erase)
        .mode(m_outputMode)
        .detectorSettings(detectorSettings(), m_profile)
        .cutterOptions(m_options.noSkip, m_options.edlSeek)
        .replaceRecording(m_replaceRecording)
        .toolsFrom(m_toolLocator);
    return builder;
}

RunRequest AppController::runRequest(bool detect, bool remove, bool erase) const
{
    RunRequest r = requestBuilder(detect, remove, erase).build(movieFile(), m_outputText);
    // The user was asked before an existing file under that name is replaced.
    r.replaceOthers = !r.output.isEmpty() && QFileInfo(r.output).absoluteFilePath() == m_confirmedOutput;
    return r;
}

void AppController::writeIniFile()
{
    // The ini file a detection would write now, for a look at it without
    // running the detector.
    const std::optional<QByteArray> text = DetectJob::iniText(detectorSettings());
    const QString ini = workFiles().iniPath();
    if (text && writeAtomically(ini, *text))
        workFiles().record({QFileInfo(ini).fileName()});
}
