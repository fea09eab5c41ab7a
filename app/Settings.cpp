// Detector settings: loaded once from the settings resource, overlaid with
// the window's check boxes and written as the detector's ini file.

#include "app/AppController.h"
#include "app/CheckBoxes.h"

#include "core/AtomicWrite.h"
#include "core/Diagnostics.h"
#include "core/PropertyList.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>

namespace {

QString plainText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return value.toString();
    }
}

} // namespace

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
    r.recording = m_movieFile;
    r.outDir = m_outDir;
    r.baseName = m_baseName;
    r.output = remove ? settledOutput() : QString();
    r.detect = detect;
    r.remove = remove;
    r.erase = erase;
    r.detectorSettings = detectorSettings();
    r.noSkip = isOn(mRemoveNoSkip);
    r.edlSeek = isOn(mRemoveEDLSeek);
    return r;
}

void AppController::writeIniFile()
{
    writeIniFile(detectorSettings());
}

void AppController::writeIniFile(const QVariantMap &settings)
{
    m_iniFileData = settings;
    logLine(QString::asprintf("writeIniFile: detectMethod=%d",
                              settings.value(QStringLiteral("detect_method")).toInt()));
    QString text;
    text.reserve(int(m_iniFileData.size()) * 20);
    for (auto it = m_iniFileData.cbegin(); it != m_iniFileData.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString && it.value().toString().isEmpty()) {
            logLine(QStringLiteral("writeIniFile: Skipping key ") + it.key());
            continue;
        }
        text += it.key() + QLatin1Char('=') + plainText(it.value()) + QLatin1Char('\n');
    }
    // The detector reads ASCII; text that is not ASCII is not written, as
    // an ASCII write of it would fail.
    for (QChar c : std::as_const(text))
        if (c.unicode() > 0x7f)
            return;
    if (writeAtomically(workFile(QStringLiteral("ini")), text.toLatin1()))
        recordWorkFiles({QFileInfo(workFile(QStringLiteral("ini"))).fileName()});
}
