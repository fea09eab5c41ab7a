#pragma once

class QProcess;

// What every tool Trimlet starts gets between fork and exec: it dies with
// Trimlet (PR_SET_PDEATHSIG), starts with no signal blocked or ignored, and,
// with ownGroup, leads a process group of its own so that a Stop reaches
// whatever it starts in turn.
void setUpChild(QProcess &process, bool ownGroup);
