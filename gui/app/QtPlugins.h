#pragma once
// Where Qt may load plugins from. A program file with a file capability keeps its raw sockets open
// for the whole run, and code loaded into it holds them too. Qt looks for plugins in its installed
// folder, in the program's own folder, and wherever a qt.conf beside the program points; the last
// two are as writable as the folder the program lies in (a build folder is the user's own).

// Before the QApplication, under secure execution: Qt's paths are its installed ones, whatever
// qt.conf lies beside the program, and the program's folder is left out of the plugin search. False
// when the folder cannot be left out; the program must not go on then.
bool KeepQtPluginsInInstalledFolder();

// Before the QApplication otherwise: Qt as it always is, a qt.conf beside the program included.
void LeaveQtPluginsAsUsual();

// After the QApplication, under secure execution: true when Qt has searched only its installed
// plugin folder so far. From here on it searches only there.
bool QtPluginsOnlyFromInstalledFolder();
