// The file system as the driver needs it: files named by path, on every platform.
// Paths are UTF-8 everywhere; on Windows they reach the file system through the wide (UTF-16)
// calls, so a name in any script opens. Everything else in the project is standard C++ and C
// stdio; these wrap the POSIX or Windows calls standard C lacks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// fopen with a UTF-8 path.
std::FILE* OpenFile(const char* path, const char* mode);

// OpenFile for a regular file only (a link followed): nullptr for a folder, a device or a pipe,
// which is refused before it is opened (opening a pipe waits for the other end).
std::FILE* OpenRegularFile(const char* path, const char* mode);

// Creates a new file at path and opens it for writing ("wb"); nullptr when anything (a file, a
// link, even one that leads nowhere) is there already, so no other file is ever written through it.
std::FILE* CreateNewFile(const char* path);

// True when the file at path (a link followed) opens for writing, or when there is none; creates
// and changes nothing.
bool WritableOrMissing(const char* path);

// Cuts (or extends) the file at path to size bytes.
bool TruncateFile(const char* path, uint64_t size);

// Moves the file from onto to, replacing what is there.
bool MoveFileOnto(const char* from, const char* to);

bool RemoveFile(const char* path);

// True when the name at path, or the file a link there leads to, may be the file open as stream
// (also when either cannot be looked at, except that nothing is there).
bool MayNameFileOf(const char* path, std::FILE* stream);

// Writes out the stream's buffer and waits until the file's bytes are on the disk; false when
// either fails. A pipe or a device keeps nothing, so for it the buffer is all there is to write.
bool FlushToDisk(std::FILE* stream);

// Waits until the folder holding the file at path has recorded the names in it, so that a file
// just moved there keeps its name after a power cut. True where the platform has no such call.
bool FlushFolderOf(const std::string& path);

// Opens the null device on any of descriptors 0 to 2 that the process was started without, so
// no file the program opens later takes one: the console would read from or write into it.
void ReserveStandardStreams();

#if defined(_WIN32)
// Windows keeps a program's arguments in UTF-16; the narrow argv turns what the ANSI code page
// lacks into '?'. wmain gets them whole on every Windows version (a UTF-8 code page in the
// manifest needs Windows 10 1903). This calls run with them in UTF-8 and the console, when
// standard output is one, showing UTF-8 for the run; redirected output gets the UTF-8 bytes as
// they are. Returns run's status.
int RunWithUtf8Arguments(int (*run)(int, char**), int argc, wchar_t** argv);
#endif
