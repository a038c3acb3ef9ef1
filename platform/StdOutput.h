// Standard output for bulk text: large blocks straight to the file
// descriptor, past the C library's small buffer.
#pragma once

#include <cstddef>

namespace kestrove::platform {

// Writes all of `data` to standard output; false on an error.
bool WriteStdout(const void* data, std::size_t size);

// When standard output is a pipe, grows its buffer so that large blocks
// pass with few round trips to the reader. Harmless where it cannot.
void PrepareStdoutForBulk();

}  // namespace kestrove::platform
