#pragma once
// Handlers run around fork(), as a program that opened remote files and then goes to the background
// (mca mount without -f) does with a file's threads running: `before` in the forking thread, to take
// the locks that the child must find free; then `afterInParent` or `afterInChild`, to let them go.
// Set once per process; on Windows, which has no fork, never run.

namespace filedriver::remote {

void setForkHandlers(void (*before)(), void (*afterInParent)(), void (*afterInChild)());

} // namespace filedriver::remote
