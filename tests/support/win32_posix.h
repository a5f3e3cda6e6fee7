#pragma once

// The POSIX calls the shared tests make to set up files and the environment, in Windows'
// terms. The Windows build of the tests includes this header ahead of every test file.

#include <cstdlib>

int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
char* mkdtemp(char* pattern);
