#pragma once
// Start-up under secure execution: a program file that grants capabilities (setcap
// cap_net_raw+p) runs with them from the first instruction, before the toolkit loads its
// plugins. Whatever the environment names gets loaded into that process, so there only the
// variables that reach the user's display, locale and home, and that name the user's own
// terminal and browser, are kept.

// True when the kernel started the program in secure-execution mode (file capabilities,
// set-user-ID or set-group-ID).
bool IsSecureExecution();

// Removes every environment variable except those the toolkit needs to show a window in the
// user's session. Plugin, module and driver paths of every library go with the rest.
void KeepOnlySessionEnvironment();
