// Writing a whole buffer to a descriptor: write() may take fewer bytes than asked, or be
// interrupted by a signal, and neither is a failure.
#pragma once

#include <cstddef>

// True once all `size` bytes are written; false with errno set (ENOSPC when the descriptor
// took no more bytes without saying why). A descriptor in non-blocking mode fails with EAGAIN.
bool WriteAll(int fd, const void* data, size_t size);
