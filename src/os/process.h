// What the run needs of its process before it opens anything: the three
// standard descriptors open, and as many open files as the system allows.
#pragma once

namespace takeloom {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes the place of standard output (where the
// progress text would overwrite it), and raises the soft limit on open
// files to the hard one: every output stays open until all are in place.
void PrepareProcess();

// Whether `fd` is a terminal.
bool IsTerminal(int fd);
// Whether descriptors `a` and `b` are the same terminal.
bool SameTerminal(int a, int b);
// The width in columns of the terminal `fd`, or 0 when it cannot be told.
int TerminalColumns(int fd);

}  // namespace takeloom
