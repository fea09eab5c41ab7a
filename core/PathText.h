#pragma once

#include <QString>
#include <QStringList>

// Path operations as the work-file names are defined: the last component
// is what follows the last '/', the extension what follows the last '.' of
// that component. Unlike QFileInfo they never look at the disk and never
// make a bare name into "./name".
namespace pathtext {

inline QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

inline QString deletingLastComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

inline QString extension(const QString &path)
{
    const QString last = lastComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : last.mid(dot + 1);
}

inline QString deletingExtension(const QString &path)
{
    const QString last = lastComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path : path.left(path.size() - (last.size() - dot));
}

// The suffixes recordings come with, as DVRs and tuner cards name them. Any
// other suffix is part of the programme's name ("News 20.00 Uhr" ends in
// "00 Uhr"), and a name derived from it keeps it whole.
inline bool isRecordingExtension(const QString &extension)
{
    static const QStringList kRecording{
        QStringLiteral("mpg"),  QStringLiteral("mpeg"), QStringLiteral("ts"),  QStringLiteral("tp"),
        QStringLiteral("m2ts"), QStringLiteral("mts"),  QStringLiteral("trp"), QStringLiteral("dvr-ms"),
        QStringLiteral("wtv"),  QStringLiteral("vob"),  QStringLiteral("mkv"), QStringLiteral("mp4"),
        QStringLiteral("m4v")};
    return kRecording.contains(extension.toLower());
}

// The path without its extension where that is a recording's, else whole.
inline QString deletingRecordingExtension(const QString &path)
{
    return isRecordingExtension(extension(path)) ? deletingExtension(path) : path;
}

} // namespace pathtext
