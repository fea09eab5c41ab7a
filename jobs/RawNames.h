#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

namespace rawnames {

// A name's bytes as JSON text can hold them all: UTF-8 as it is, and each
// byte that is not part of UTF-8 as the lone surrogate U+DC00 + byte,
// which QJsonDocument writes as a JSON escape ("\\udcff" for 0xff). It is the
// convention of Python's "surrogateescape" (os.fsencode gives the bytes
// back), and no UTF-8 name holds one. Qt decodes such bytes into U+FFFD,
// losing them.
QString escaped(const QByteArray &bytes);
// The same bytes for a person to read: what is not UTF-8 as "\\xHH".
QString shown(const QByteArray &bytes);
// escaped()'s text back to its bytes.
QByteArray bytesOf(const QString &escapedText);
// The text holds bytes that are not UTF-8, as escaped() writes them.
bool holdsBytes(const QString &text);
// A path as a widget gave it, where Qt has decoded the bytes that are not
// UTF-8 into U+FFFD, back as escaped() text: each such name is looked for
// among its folder's names. Empty, with why, where it is not there or
// another name there reads the same.
QString recovered(const QString &path, QString *why);
// A file: URL's path with its bytes, as escaped() text, and back.
QString pathOf(const QUrl &url);
QString uriOf(const QString &escapedPath);
// The file is there, by its bytes.
bool exists(const QString &escapedPath);
// Why a recording whose name is not UTF-8 cannot be run: why no stand-in
// could be had for it.
QString cannotRun(const QByteArray &name, const QString &why);

// A recording whose name is not UTF-8 is run under a stand-in name. Qt
// holds file names as text and decodes such bytes into U+FFFD, so neither
// Trimlet nor the tools it starts could open the file by that text. The
// stand-in is a hard link (a symbolic one where the file system has none)
// with a UTF-8 name in a private folder beside the recording, next to links
// to the recording's own lists and log, so the run sees the folder as it
// is. When the run has ended, what it made, renamed or removed there is
// done to the real names, each taking the recording's own bytes.
class StandIn
{
public:
    // rawPath: absolute, as the command line gave it. Null, with why,
    // where no stand-in can be made (the folder's own name is not UTF-8,
    // or cannot be written).
    static std::unique_ptr<StandIn> make(const QByteArray &rawPath, QString *why);
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    // The path the run is given.
    QString recording() const;
    // Carries the run's work over to the real names. copy: the checked
    // copy the run made (empty if none); overwrite: a file of the copy's
    // real name that this run did not make may be replaced. False, with
    // why, when something had to stay in the private folder.
    bool finish(const QString &copy, bool overwrite, QString *why);
    // The copy's real path once finish() has moved it, as escaped() text.
    QString copyMade() const { return m_copyMade; }
    // text with the stand-in's paths and name as the user's: shown() names.
    QString shownText(QString text) const;

private:
    struct Linked
    {
        QByteArray real; // name in the recording's folder
        QString standIn; // name in the private folder
        quint64 inode = 0;
    };
    StandIn() = default;
    // The private folders of runs that did not live to finish.
    void sweep() const;
    QString standInName(const QByteArray &realName) const;
    QByteArray realName(const QString &standInName) const;
    bool moveOut(const QString &name, bool isCopy, bool overwrite, QString *why);

    QByteArray m_folder; // the recording's, ending in '/'
    QByteArray m_name; // the recording's file name
    QString m_private; // the private folder, ending in '/'
    QString m_alias; // the recording's stand-in name
    std::vector<Linked> m_linked;
    QString m_copyMade;
    int m_held = -1; // the private folder, flock(2)ed while this lives
};

} // namespace rawnames
