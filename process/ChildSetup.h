#pragma once

class QProcess;

// What every tool Trimlet starts gets between fork and exec: it dies with
// Trimlet (PR_SET_PDEATHSIG), starts with no signal blocked or ignored, and,
// with ownGroup, leads a process group of its own so that a Stop reaches
// whatever it starts in turn.
void setUpChild(QProcess &process, bool ownGroup);

// Lets go of a tool that is no longer wanted without waiting for it: it is
// killed and deleted once it has gone. A process stuck in the kernel (a
// hung network mount) could otherwise hold the window for as long as it
// takes, as QProcess's destructor waits for its child.
void letGo(QProcess *process);
