// What the run needs of its process before it opens anything: the three
// standard descriptors open, and as many open files as the system allows.
#pragma once

#include <cstdint>
#include <string>

#include "error.h"

namespace takeloom {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes the place of standard output (where the
// progress text would overwrite it), and raises the soft limit on open
// files to the hard one: a run holds a lock on every directory it writes
// into for its whole length.
void PrepareProcess();

// The most files the process may hold open at once, or -1 when it cannot be
// told or there is no limit.
int64_t OpenFileLimit();
// Whether a file could not be opened for `error` for want of a descriptor
// (EMFILE, or ENFILE when the whole system has run out): the file is not at
// fault, and the run says how many it needs instead of blaming it.
bool OutOfDescriptors(int error);
// kTooManyOpenFiles for `path`, which could not be opened for `error`; the
// driver adds how many files the run needs.
Error TooManyOpenFiles(const std::string& path, int error);

// Whether `fd` is a terminal.
bool IsTerminal(int fd);
// Whether descriptors `a` and `b` are the same terminal.
bool SameTerminal(int a, int b);
// The width in columns of the terminal `fd`, or 0 when it cannot be told.
int TerminalColumns(int fd);

}  // namespace takeloom
