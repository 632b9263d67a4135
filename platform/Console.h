#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace tarven::platform {

// Whether the stream is systemd's journal: JOURNAL_STREAM holds "device:inode" of the very
// file the stream writes to. A stream merely inherited from a service that redirected it does
// not match.
bool isJournalStream(std::FILE* stream);

// Whether the file's mode lets its group or others read it.
bool readableByOthers(const char16_t* path);

// Readies the standard streams of a console program: a reader that goes away must not end the
// run, and the bytes written are the bytes that arrive.
void prepareStandardStreams();

// The program's arguments after its name, in UTF-8 whatever the system's code page.
std::vector<std::string> programArguments(int argc, char** argv);

// Writes UTF-8 text to the stream at once; a console shows it as text, a pipe or file gets the
// bytes. A write that fails is dropped.
void writeText(std::FILE* stream, const char* bytes, std::size_t count);

}  // namespace tarven::platform
