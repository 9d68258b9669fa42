#pragma once

#include "doctool.h"

namespace velquintdoc {

// tree, add-folder, add-channel, rename, move, delete.
std::span<const Command> FolderCommands();

} // namespace velquintdoc
