// The names of temporary files that a save has created but not yet put in place, kept in a
// fixed table that a signal handler may read: SIGINT, SIGTERM, SIGHUP and SIGXFSZ remove
// them before the process ends with the signal as it would have without the handler.
#pragma once

// Records a temporary file's path; the slot to release, or -1 when the table is full or the
// path too long (the save then goes on unrecorded).
int RegisterPendingTemp(const char* path);
// Forgets the slot's path (after the file was renamed into place or removed); -1 is ignored.
void ReleasePendingTemp(int slot);
// Removes every recorded file. Async-signal-safe.
void RemovePendingTemps();
// Installs the removing handler for SIGINT, SIGTERM, SIGHUP and SIGXFSZ, except for a
// signal the process was started with ignored (nohup keeps SIGHUP ignored).
void RemoveTempsOnSignals();
