#pragma once

#include <cstdio>

namespace tarven::platform {

// Whether the stream is systemd's journal: JOURNAL_STREAM holds "device:inode" of the very
// file the stream writes to. A stream merely inherited from a service that redirected it does
// not match.
bool isJournalStream(std::FILE* stream);

// Whether the file's mode lets its group or others read it.
bool readableByOthers(const char16_t* path);

}  // namespace tarven::platform
