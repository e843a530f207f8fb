#pragma once
// The program's console streams, stdout and stderr, made to remember whether the last
// byte they wrote ended a line, so that the fatal end can put its line on a line of its
// own after progress text ("0123..." or "computing probability masks...").
#include <cstdio>

// Replaces stdout and stderr by streams that write to the same descriptors (1 and 2)
// and buffer as the C library buffers its own: stdout by lines on a terminal and else in
// blocks of the file's block size, stderr not at all. The bytes and the moments at which
// they reach each file are those of the library's streams. Call once at the start of the
// program, before anything is printed and before any other thread exists. A descriptor
// that is not open keeps its stream as it was.
void TrackConsoleStreams();

// True when text written to `stream` would not start a line: the last byte that reached
// its file was not a line end. When stdout and stderr write to one file (a terminal, or
// "2>&1"), the later write of the two counts. False before anything was written and for
// a stream that is not tracked.
bool ConsoleLineOpen(std::FILE* stream);
