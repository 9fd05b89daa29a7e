// Writing a save's finished content into the very file it replaces, for a file that must keep
// its inode: one that other hard links also name, or one whose owner a new file could not be
// given. The space is reserved before the first byte of the old content is overwritten, so a
// full disk or a file-size limit fails the save and leaves the file as it was; an I/O error or
// a kill while the bytes are being written, however, leaves a file that is partly new. Such a
// save is therefore not atomic, unlike a save by rename.
#pragma once

// Makes the regular file open for writing at `target` hold exactly the bytes of `source`
// (readable with pread), then flushes it to disk. 0, or -1 with errno set.
int OverwriteInPlace(int target, int source);
