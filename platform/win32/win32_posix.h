#pragma once

// The few POSIX file calls of the loader's shared code that Windows' C runtime lacks, in
// Windows' terms. The Windows build includes this header ahead of every source file.

#include <fcntl.h>
#include <io.h>
#include <sys/types.h>
#include <unistd.h>

// Every descriptor of the loader is opened with O_CLOEXEC. On Windows it must also be opened
// in binary mode: the C runtime's default text mode turns CR LF into LF and ends a read at a
// 0x1A byte.
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
// The loader's temporary folder is the user's own (GetTempPath), where no other user can
// plant a link; and a link to a file is a privilege of administrators.
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif

// No terminal can become the loader's controlling terminal, and opening a file never waits
// for a writer: both flags have nothing to do.
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef F_GETFL
#define F_GETFL 3
#define F_SETFL 4
#endif

// F_GETFL gives no flags and F_SETFL takes them: the only flag set or cleared is O_NONBLOCK.
int fcntl(int fd, int command, ...);

// A fresh file from `pattern` (ending in XXXXXX), created exclusively with `flags`.
int mkostemp(char* pattern, int flags);

// Reads at `offset` without a shared file position: the loader has one thread, so a seek and
// a read do the same (the file position moves, which no caller relies on).
ssize_t pread(int fd, void* buffer, size_t size, off_t offset);
