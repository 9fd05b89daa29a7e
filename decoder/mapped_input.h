// The helper's view of the file it decodes: mapped read-only, not read whole, so that the pages
// a decoder or the colour check reaches are all the file costs. Another process may cut the file
// short while it is read; a read of a page it no longer holds is then a refusal, not a crash.
#pragma once

#include <cstddef>
#include <string>

// Larger files are refused unmapped: a picture within the size limit never needs this much.
constexpr long long kMaxInputBytes = 3LL << 30;

// The whole regular file `fd` mapped as `data`, its `size` bytes (a zero-byte file gives a
// harmless address): true, or false with a reason. Out of memory ends the process with
// kDecodeExitOutOfMemory.
bool MapInputFile(int fd, const unsigned char*& data, size_t& size, std::string& reason);

// From now on a bus error on a read of `data` (the file shrank under the mapping) ends the
// process with a refusal written to `channel` ("the file was cut short while it was read ...")
// and exit status 0; any other bus error still ends it by SIGBUS. Call once, before the reads.
void RefuseWhenInputShrinks(const unsigned char* data, size_t size, int channel);
