#pragma once

class QProcess;

// Collects the tools nobody waits for any more, in the manner of Qt
// Creator's process reaper but on the main thread: QProcess learns of its
// child's death through the event loop, so collecting one needs neither a
// blocking wait nor a thread of its own. Main thread only.
namespace ProcessReaper {

// Takes the process over in any state: its signals reach no one any more,
// it is killed if it still runs, and it is deleted once it has been
// collected, so it leaves no zombie behind.
void reap(QProcess *process);

// Kills every process still to be collected and collects it, waiting at
// most timeoutMs in all. It runs by itself when the application object
// is destroyed. One stuck in the kernel past the bound stays allocated:
// deleting it would wait 30 s in QProcess's destructor.
void collectAll(int timeoutMs);

} // namespace ProcessReaper
