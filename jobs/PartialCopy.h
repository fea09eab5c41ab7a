#pragma once

#include <QString>

// The copy while it is cut and checked: a hidden file beside the output,
// ".NAME.trimlet-XXXXXX", created here and so never anybody else's file,
// which takes the output's name only once it has been checked.
class PartialCopy
{
public:
    enum class Created { Yes, NotWritable, NameTooLong };

    PartialCopy() = default;
    PartialCopy(const PartialCopy &) = delete;
    PartialCopy &operator=(const PartialCopy &) = delete;
    ~PartialCopy() { discard(); }

    // A new hidden file beside output, with what the user's umask gives a
    // new file.
    Created create(const QString &output);
    // Empty when there is none.
    const QString &path() const { return m_path; }
    // Removes it.
    void discard();
    // It has taken the output's name: it is no longer ours to remove.
    void release() { m_path.clear(); }
    // Removes the hidden copies beside output but this one: left by a cut
    // that Trimlet did not live to finish.
    void removeStale(const QString &output) const;

private:
    QString m_path;
};
