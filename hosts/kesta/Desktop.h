// kesta desktop: the stereo LV2 plug-in as a PipeWire filter-chain sink for
// everything the desktop plays. It writes a drop-in of its own into the
// user's PipeWire configuration, restarts the user's PipeWire to load it,
// makes it the default output if asked, changes its controls live, and
// removes exactly what it wrote.
#pragma once

#include <string>

// Runs "kesta desktop ARGS": argv[first] is the subcommand (on, off, status,
// set). Answers the exit status: 0 done, 1 refused or failed, 2 usage error.
int desktopCommand(int argc, char** argv, int first);

// While kesta configure's window is open: when the desktop filter is on, every
// change the window saves to the user's settings is handed to the running
// filter and kept in its drop-in (through the default main loop). False when
// the filter is not on.
bool followSettingsLive();

// The help of kesta desktop.
extern const char kDesktopHelp[];
