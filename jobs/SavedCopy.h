#pragma once

#include <QString>
#include <QStringList>

// A checked copy taking the output's name, and what marks it as made from
// its recording, so that a later run of that recording may replace it and
// no run of another may.
namespace savedcopy {

// copy is a checked copy Trimlet made from recording (this very file,
// under whatever name).
bool madeFrom(const QString &copy, const QString &recording);

// output names recording, under whatever name.
bool isRecording(const QString &output, const QString &recording);
// Hidden copies being written beside output: ".NAME.trimlet-XXXXXX".
QStringList partialCopiesOf(const QString &output);

// Marks partial as recording's and gives it output's name in one step. A
// file that took that name meanwhile is replaced only when it is
// recording's earlier copy or replaceOthers allows. Empty once saved,
// else why not, in words naming what was written (noun).
QString takeName(const QString &partial, const QString &output, const QString &recording, bool replaceOthers,
                 const QString &noun);

} // namespace savedcopy
