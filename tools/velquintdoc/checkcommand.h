#pragma once

#include "doctool.h"

namespace velquintdoc {

// check: the engine's structural check and every record read back.
std::span<const Command> CheckCommands();

} // namespace velquintdoc
