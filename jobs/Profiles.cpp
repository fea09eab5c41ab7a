#include "jobs/Profiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <fnmatch.h>

namespace profiles {

namespace {

// By the variables alone: QStandardPaths answers "/.config" for a service
// user started without HOME, a folder nobody meant.
QString userFolder()
{
    const QString xdg = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (xdg.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(xdg) + QStringLiteral("/trimlet");
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')) && home != QLatin1String("/"))
        return QDir::cleanPath(home) + QStringLiteral("/.config/trimlet");
    return QString();
}

QString uncommented(const QByteArray &raw)
{
    QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith(QLatin1Char('#')))
        return QString();
    const qsizetype semicolon = line.indexOf(QLatin1Char(';'));
    if (semicolon >= 0)
        line.truncate(semicolon);
    return line.trimmed();
}

} // namespace

QStringList folders()
{
    QStringList all;
    if (const QString user = userFolder(); !user.isEmpty())
        all << user;
    all << QStringLiteral("/etc/trimlet");
    return all;
}

std::optional<QVariantMap> parse(const QByteArray &text, QString *error)
{
    static const QRegularExpression key(QStringLiteral("^[A-Za-z0-9_]+$"));
    QVariantMap settings;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = uncommented(lines[i]);
        if (line.isEmpty() || (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString name = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        bool ascii = true;
        for (QChar c : value)
            ascii = ascii && c.unicode() < 0x80;
        // comskip reads its ini as bytes, and the writer refuses what it
        // cannot write as such.
        if (equals < 0 || !key.match(name).hasMatch() || !ascii) {
            if (error)
                *error = QStringLiteral("line %1 is not key=value in ASCII: %2").arg(i + 1).arg(line);
            return std::nullopt;
        }
        settings.insert(name, value);
    }
    return settings;
}

std::optional<Profile> find(const QString &name, QString *error)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) {
        if (error)
            *error = QStringLiteral("%1 is not a profile's name").arg(name);
        return std::nullopt;
    }
    QStringList tried;
    for (const QString &folder : folders()) {
        const QString path = folder + QStringLiteral("/profiles/") + name + QStringLiteral(".ini");
        tried << path;
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("profile %1 cannot be read: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        QString why;
        const std::optional<QVariantMap> settings = parse(file.readAll(), &why);
        if (!settings) {
            if (error)
                *error = QStringLiteral("profile %1: %2").arg(path, why);
            return std::nullopt;
        }
        return Profile{name, path, *settings};
    }
    if (error)
        *error = QStringLiteral("no profile %1 (looked for %2)").arg(name, tried.join(QStringLiteral(", ")));
    return std::nullopt;
}

std::optional<QString> forChannel(const QString &channel, QString *error)
{
    for (const QString &folder : folders()) {
        QFile file(folder + QStringLiteral("/channels.conf"));
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("%1 cannot be read: %2").arg(file.fileName(), file.errorString());
            return std::nullopt;
        }
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = uncommented(lines[i]);
            if (line.isEmpty())
                continue;
            // The last '=': a channel's name may hold one, a profile's not.
            const qsizetype equals = line.lastIndexOf(QLatin1Char('='));
            const QString pattern = line.left(equals).trimmed();
            const QString profile = line.mid(equals + 1).trimmed();
            if (equals < 0 || pattern.isEmpty() || profile.isEmpty()) {
                if (error)
                    *error = QStringLiteral("%1, line %2, is not CHANNEL = PROFILE: %3")
                                 .arg(file.fileName())
                                 .arg(i + 1)
                                 .arg(line);
                return std::nullopt;
            }
            // fnmatch(3): a pattern as the shell reads it, and '/' a
            // character like any other, as in "Sky Cinema +1 / HD".
            if (pattern.compare(channel, Qt::CaseInsensitive) == 0
                || ::fnmatch(pattern.toUtf8().constData(), channel.toUtf8().constData(), FNM_CASEFOLD) == 0)
                return profile == QLatin1String("-") ? QString() : profile;
        }
        // The user's file, when there is one, is the whole mapping.
        return QString();
    }
    return QString();
}

QVariantMap overlaid(QVariantMap settings, const QVariantMap &profile)
{
    for (auto it = profile.cbegin(); it != profile.cend(); ++it)
        // Which files comskip writes is Trimlet's to say: it reads the
        // frame list and the cut list, and erases what it knows it wrote.
        // A comskip.ini copied whole into a profile would otherwise leave
        // the cut without a list, or files nobody erases.
        if (!it.key().startsWith(QLatin1String("output_")))
            settings.insert(it.key(), it.value());
    return settings;
}

} // namespace profiles
