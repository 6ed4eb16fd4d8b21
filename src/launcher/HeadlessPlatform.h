#pragma once
// The toolkit's platform where the machine has no display. On X11 and Wayland systems the toolkit's
// default platform aborts the process when it finds no display to connect to; GleanerQt then runs as on
// the offscreen platform instead: the outcome without a window, or the logged line where a folder would
// have to be picked. Windows always has a desktop: there nothing is chosen.

namespace launcher {

// Before the application object is built: sets QT_QPA_PLATFORM to "offscreen" when neither it nor a
// "-platform" argument chooses a platform and the environment names no display (DISPLAY,
// WAYLAND_DISPLAY). True when it did.
bool chooseHeadlessPlatform(int argc, char* argv[]);

} // namespace launcher
