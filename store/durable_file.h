// File access inside a board directory. Every open refuses to follow a
// symbolic link, and an open or read that a network file system answers
// with ESTALE (the file was replaced on another host) is tried again a few
// times before it counts as a failure.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// open(2) with O_NOFOLLOW | O_CLOEXEC added, retried on ESTALE and EINTR.
int openNoFollow(const char* path, int flags, mode_t mode = 0644);

// Reads exactly `size` bytes at `offset`; 1, 0 when the file ends first, -1 on error.
int readAt(int fd, void* data, std::size_t size, off_t offset);

// Writes exactly `size` bytes at `offset`; 1 or -1.
// Up to `size` bytes at `offset`, fewer at the end of the file: how many,
// or -1 on an error.
long readAtMost(int fd, void* data, std::size_t size, off_t offset);
int writeAt(int fd, const void* data, std::size_t size, off_t offset);

// Appends every byte of `data` at the descriptor's position; 1 or -1.
int writeAll(int fd, const char* data, std::size_t size);

// No limit on what readWholeFile reads but memory's.
constexpr std::size_t kNoReadCap = static_cast<std::size_t>(-1);

// Every byte of a regular file opened read-only through openNoFollow; 1,
// 0 when there is no such regular file, -1 on an error. A file longer than
// `cap` bytes is -1 with errno EFBIG: never more than `cap` bytes are read
// or reserved, whatever size the file claims or grows to. A read answered
// with ESTALE opens the file again and starts over.
int readWholeFile(const char* path, std::string* data, std::size_t cap = kNoReadCap);

// The descriptor's file size, or -1.
off_t fileSize(int fd);

// Closes `fd`; -1 when the close reports an error (a network file system
// reports write errors only then).
int closeChecked(int fd);

// Waits until the file's bytes and length are on the disk; 1 or -1.
int syncData(int fd);

// Waits until the names in directory `dir` (created, renamed, removed)
// are on the disk; 1 or -1.
int syncDirectory(const char* dir);

// The one order in which a file takes another's place so that a power cut
// leaves the old file or the new one whole: the new file's bytes (`fd`,
// written under the name `from`) on the disk, `fd` closed, `from` renamed
// to `to`, and the rename on the disk through directory `dir`. 1; -1 with
// `fd` closed and `from` left for the caller; 0 when only the directory's
// sync failed: the rename has happened but may not outlive a power cut.
int replaceDurably(int fd, const char* from, const char* to, const char* dir);

// Replaces the small advisory file `path` by `text` without waiting for
// the disk: a stale plain file at `scratch` (a dead run's, under the
// caller's lock) removed, `text` written there afresh, renamed over
// `path`. A process that dies leaves the old file or the new one; a power
// cut may forget the change. True when renamed; else `scratch` is gone.
bool replaceWithoutSync(const char* scratch, const char* path, const std::string& text);

// Joins a board directory and a file name into `path` (`size` bytes);
// false when it does not fit.
bool joinPath(char* path, std::size_t size, const char* dir, const char* name);
