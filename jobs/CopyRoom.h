#pragma once

#include <QString>

// The room a copy needs beside its output, measured before it is cut, so
// that a copy that cannot fit is refused before the disk is filled, and
// told in figures when a cutter filled the disk all the same. noun is what
// the texts call the copy ("cut copy", "chapters file").
class CopyRoom
{
public:
    CopyRoom() = default;
    // A copy of keptSeconds of a recording of recordingBytes and
    // recordingSeconds.
    CopyRoom(const QString &output, const QString &noun, qint64 recordingBytes, double keptSeconds,
             double recordingSeconds);

    // About what the copy takes on disk.
    qint64 expectedBytes() const { return m_expected; }
    // Why the copy cannot be written beside the output, in words with what
    // it needs and what is free; empty when it fits.
    QString lacking() const;
    // "The disk is full: the cut copy did not fit in DIR (...)." when a
    // cutter that wrote written bytes and said toolOutput failed because
    // the disk filled; empty when it did not. Told before the partial copy
    // is thrown away, which frees the space it filled.
    // pieces: the folder where a frame-exact cut writes the pieces it joins
    // (the temporary folder), when it is the one that filled up.
    QString filled(const QString &toolOutput, qint64 written, const QString &pieces = QString()) const;
    // Why the pieces a frame-exact cut writes in folder before joining them
    // into the copy (about as large as the copy) do not fit there, beside
    // the copy itself when it is the same disk; empty when they do.
    QString lackingForPieces(const QString &folder) const;

private:
    QString m_folder; // the output's
    QString m_noun;
    qint64 m_expected = 0;
};
