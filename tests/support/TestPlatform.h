// What the tests need of the system that differs between the platforms.
#pragma once

// Makes the C library's conversions UTF-8 (the locale's character set on Linux; the process's code
// page stays the system's on Windows, where conversions name their code page).
void UseUtf8Locale();

// A loopback TCP port that refuses connections: bound, never listening, then released.
int UnusedPort();

// Sets an environment variable of this process, or removes it when value is null.
void SetVariable(const char* name, const char* value);

// The permission bits a file written with mode shows through stat(): the mode itself on Linux; on
// Windows a file is read-only or not, which the C runtime reports as 0444 or 0666.
unsigned ModeAsKept(unsigned mode);
