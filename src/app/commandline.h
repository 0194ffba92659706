#pragma once

namespace Tavrix {

// The command line of the client: "tavrixvpn status", "connect [SERVER]", "disconnect",
// "servers [--search TEXT]", "killswitch on|off", each with "--json". The running instance does
// the work (the same code as its window) and answers through the single-instance channel;
// this side only asks and prints, without a window or a display. Exit codes: 0 done,
// 1 failed, 2 usage, 3 not signed in.

// Whether the arguments name a command (rather than a login link or nothing).
bool isCommandLine(int argc, char **argv);

// Runs a command against the running instance; "connect" starts one (minimized) when none
// runs. Makes its own core application object. Returns the exit code.
int runCommandLine(int argc, char **argv);

// Takes option out of argv when it is there (anywhere after the program name).
bool takeOption(int &argc, char **argv, const char *option);

// The text of "tavrixvpn --help".
const char *commandLineUsage();

} // namespace Tavrix
