#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// Named sets of detector settings laid over the defaults: what suits one
// channel's breaks seldom suits another's. A profile is NAME.ini in comskip's
// own syntax (key=value lines; ';' starts a comment anywhere, '#' at a line's
// start; [sections] are headings only, as comskip reads them), looked for in
// the user's folder, then the system's:
//
//   $XDG_CONFIG_HOME/trimlet/profiles/NAME.ini   (~/.config when unset)
//   /etc/trimlet/profiles/NAME.ini
//
// channels.conf, in the same two folders (the user's wins), maps channels to
// profiles, one "CHANNEL = PROFILE" a line, '#' or ';' comments; CHANNEL is an
// exact name or a shell pattern (*, ?, [..], as fnmatch(3) reads it), either
// compared without regard to (ASCII) case; the first line that matches
// wins, and "-" as PROFILE means the defaults.
namespace profiles {

// The folders looked in, the user's first; a user without HOME or
// XDG_CONFIG_HOME has only the system's.
QStringList folders();

struct Profile
{
    QString name;
    QString path; // empty for the defaults
    QVariantMap settings;
};

// The profile of that name, read; nullopt with why in *error when it is
// missing, unreadable or not comskip's syntax.
std::optional<Profile> find(const QString &name, QString *error);

// The profile channels.conf names for the channel; an empty name for the
// defaults (no file, no line that matches, or "-"); nullopt with why in
// *error when a channels.conf cannot be read or a line is not understood.
std::optional<QString> forChannel(const QString &channel, QString *error);

// comskip's ini text read as settings; nullopt with the line at fault in
// *error.
std::optional<QVariantMap> parse(const QByteArray &text, QString *error);

// The settings with the profile's values over them, but for comskip's
// output_ keys, which choose the files Trimlet reads and erases.
QVariantMap overlaid(QVariantMap settings, const QVariantMap &profile);

} // namespace profiles
