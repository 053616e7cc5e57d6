#pragma once
// Running a file chooser the way every dialog of the program does.
#include <string>

class QFileDialog;

// Runs chooser modally and gives the file chosen, or "" when none was. The log's relative
// "debug.log" is resolved against the working directory: whatever the chooser (a desktop's
// native one included) does, the directory stays where it was.
std::string ChooseFile(QFileDialog& chooser);
