// The one clean-up table that a signal reads: temporary files a save has created but not yet
// put in place, and child processes writing into them. Its fixed slots may be read by a
// signal handler; only a program that calls RemoveTempsOnSignals() installs one (a library
// records into the table and never touches the process's signal handling). On SIGINT,
// SIGTERM, SIGHUP or SIGXFSZ the handler says its notice, ends the children, removes the
// files and lets the signal end the process as it would have without the handler.
#pragma once

#include <sys/types.h>

// Records a temporary file's path; the slot to release, or -1 when the table is full or the
// path too long (the save then goes on unrecorded).
int RegisterPendingTemp(const char* path);
// Forgets the slot's path (after the file was renamed into place or removed); -1 is ignored.
void ReleasePendingTemp(int slot);
// Records a child that a signal must end (SIGKILL) before the files go; the slot, or -1.
int RegisterPendingChild(pid_t pid);
// Forgets the child's slot once it has been reaped; -1 is ignored.
void ReleasePendingChild(int slot);
// The function the handler calls first with the signal, for a last word on the terminal; it
// must be async-signal-safe. nullptr for none.
void SetSignalNotice(void (*notice)(int signal));
// Ends every recorded child and removes every recorded file. Async-signal-safe.
void RemovePendingTemps();
// Installs the removing handler for SIGINT, SIGTERM, SIGHUP and SIGXFSZ, except for a
// signal the process was started with ignored (nohup keeps SIGHUP ignored).
void RemoveTempsOnSignals();
