#pragma once

#include "doctool.h"

namespace velquintdoc {

// config: the settings as the program loads them.
std::span<const Command> ConfigCommands();

} // namespace velquintdoc
