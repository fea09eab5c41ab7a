// Detector settings: loaded once from the settings resource, overlaid with
// the window's check boxes and written as the detector's ini file.

#include "app/AppController.h"
#include "app/CheckBoxes.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/PropertyList.h"
#include "jobs/DetectJob.h"

#include <QCheckBox>
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

int AppController::detectMethodMask() const
{
    const QCheckBox *boxes[] = {mDetectBlackFrame,       mDetectStationLogo,    mDetectSceneChange,
                                mDetectResolutionChange, mDetectClosedCaptions, mDetectAspectRatio,
                                mDetectSilence,          mDetectCutscenes};
    int mask = 0;
    for (int i = 0; i < 8; ++i)
        if (isOn(boxes[i]))
            mask += 1 << i;
    return mask;
}

QVariantMap AppController::detectorSettings() const
{
    QVariantMap settings = m_iniFileData;
    settings.insert(QStringLiteral("detect_method"), qint64(detectMethodMask()));
    settings.insert(QStringLiteral("ticker_tape"), qint64(isOn(mOptionHasTickertape) ? 60 : 0));
    // comskip knows this option as "..._before_first_commercial"; under any
    // other name the check box would silently do nothing.
    settings.insert(QStringLiteral("delete_show_before_first_commercial"),
                    qint64(isOn(mOptionDeleteBefore) ? 1 : 0));
    settings.insert(QStringLiteral("delete_show_after_last_commercial"),
                    qint64(isOn(mOptionDeleteAfter) ? 1 : 0));
    settings.insert(QStringLiteral("logo_at_bottom"), qint64(isOn(mOptionLogoAtBottom) ? 1 : 0));
    return settings;
}

RunRequest AppController::requestFromWindow(bool detect, bool remove, bool erase) const
{
    RunRequest r;
    r.recording = movieFile();
    r.outDir = outDir();
    r.baseName = baseName();
    r.output = remove ? settledOutput() : QString();
    r.detect = detect;
    r.remove = remove;
    r.erase = erase;
    r.detectorSettings = detectorSettings();
    r.noSkip = isOn(mRemoveNoSkip);
    r.edlSeek = isOn(mRemoveEDLSeek);
    r.tools.comskip = toolPath(QStringLiteral("comskip"));
    r.tools.mencoder = toolPath(QStringLiteral("mencoder"));
    r.tools.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
    r.tools.ffprobe = toolPath(QStringLiteral("ffprobe"));
    return r;
}

void AppController::writeIniFile()
{
    // The ini file a detection would write now, for a look at it without
    // running the detector.
    const std::optional<QByteArray> text = DetectJob::iniText(detectorSettings());
    if (text && writeAtomically(workFile(QStringLiteral("ini")), *text))
        workFiles().record({QFileInfo(workFile(QStringLiteral("ini"))).fileName()});
}
