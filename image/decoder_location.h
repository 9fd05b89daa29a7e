// Where the decoding helper is and whether it may be started. The helper is an internal program:
// installed in <prefix>/libexec/quarro/ and found relative to the running program's own file,
// never by a search; the build tree keeps the same layout. A helper that another user could
// replace is refused, since it would run as the user.
#pragma once

#include <string>

// The helper of the running program: `relative` (e.g. "../libexec/quarro/quarro-decode") from
// the folder of the program's real file (/proc/self/exe); empty when that cannot be read.
std::string DecoderBesideProgram(const std::string& relative);

// 0 when `path` names an executable regular file that neither it nor any folder on its real
// path lets another user change: each belongs to root or to this user and is not writable by
// group or others, except a root-owned folder with the sticky bit (such as /tmp), whose entries
// only their owners may remove. Else -1 with a reason
// naming the path ("the decoder program /p/quarro-decode was not found").
// The checks are made on descriptors: the program's, opened O_PATH once its path is resolved,
// and each folder's, climbing from the one that holds it to the root.
int CheckDecoderProgram(const std::string& path, std::string& reason);

// CheckDecoderProgram, once for the process's life: the first time `path` passes, its
// descriptor (O_PATH, close-on-exec) is kept, and every later call with the same path gives that
// one without looking at the path again. Helpers are started from it (execveat), so a path that
// later points elsewhere never runs. A path that fails is looked at afresh the next time.
int CheckedDecoderProgram(const std::string& path, int& descriptor, std::string& reason);
