#pragma once

#include <QString>

namespace config {

// The absolute path of the running program file. Works before the application object exists
// (command-line tools create none); empty when the system cannot tell.
QString ProgramFile();

// The folder of ProgramFile(), without a trailing "/".
QString ProgramFolder();

} // namespace config
