#pragma once

// The whole program: prepares the process, builds configuration and window, runs the event
// loop and returns the exit code (0 normal end or another instance running, 1 command line or
// configuration error, 2 fatal engine error).
int runUpdater(int &argc, char **argv);
