#pragma once

#include <QString>

// A checked copy taking the output's name, and what marks it as made from
// its recording, so that a later run of that recording may replace it and
// no run of another may.
namespace savedcopy {

// copy is a checked copy Trimlet made from recording (this very file,
// under whatever name).
bool madeFrom(const QString &copy, const QString &recording);

enum class Saved { Saved, SomeoneElses, Failed };
// Marks partial as recording's and gives it output's name in one step. A
// file that took that name meanwhile is replaced only when it is
// recording's earlier copy or replaceOthers allows; else SomeoneElses,
// and Failed with error set when the rename failed.
Saved takeName(const QString &partial, const QString &output, const QString &recording, bool replaceOthers,
               QString *error);

} // namespace savedcopy
