#pragma once

namespace gpsfw::platform {

// A file published under a fixed name is written under a name of its own and then put in
// place in one step, while other processes may be reading the file it replaces.

// Opens an existing file for reading, not inherited by child processes, without following a
// symbolic link in the last component. While the descriptor is open another process may
// rename the file or replace it by another (Windows refuses both to a file opened without
// FILE_SHARE_DELETE); the descriptor keeps reading the same bytes. -1 with errno set.
int OpenReadingReplaceable(const char* path);

// Puts the file `from` in the place of `to` in one step, over whatever `to` named, even
// while a process holds that file open: a reader of `to` finds the old file or the new one,
// never none and never a mix, and a descriptor of the old file keeps reading its bytes.
// False with errno set; both names are then as they were.
bool RenameReplacing(const char* from, const char* to);

}  // namespace gpsfw::platform
