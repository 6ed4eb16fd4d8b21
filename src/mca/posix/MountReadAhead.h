#pragma once
// The kernel's read-ahead for the files of one FUSE mount. The kernel gives a FUSE mount a 128 KiB
// window and asks the server for no more than that at a time; a larger window brings larger requests
// (up to the connection's 1 MiB) and several of them at once, which the server's threads serve side by
// side. The window is the mount's own (its backing device info), gone with the mount, and only root
// may set it.

#include <string>

namespace mca {

// The device ("major:minor") of the topmost mount on `mountPoint` (absolute, as the kernel shows it),
// as /proc/self/mountinfo's text `mountInfo` lists it; empty when nothing is mounted there.
std::string mountDevice(const std::string& mountInfo, const std::string& mountPoint);

// Sets the read-ahead window of the mount on `mountPoint` to `kilobytes`. Call it once the kernel has
// had the server's answer to its first request: that answer sets the window too. False, and nothing
// changes, where the window cannot be set (not root, no sysfs); the mount works either way.
bool setMountReadAhead(const std::string& mountPoint, unsigned kilobytes);

} // namespace mca
