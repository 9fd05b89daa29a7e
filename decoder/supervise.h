// The helper watches over its own decoding: the program that starts it is not its parent (so
// that the host's wait calls never meet it), so the helper's first process stays behind as a
// supervisor and reports how the decoding process ended on the status socket.
#pragma once

// Forks the decoding process and returns in it only. The supervisor sends the decoding
// process's wait status (an int, as waitpid gives it) on kDecodeStatusDescriptor when it ends,
// and kills it when the program writes on or closes that socket first, or ends
// (kDecodeHostDescriptor, a pidfd of it, when it handed one over). Started without a status socket,
// the helper runs alone and this returns at once.
void SuperviseDecoding();
