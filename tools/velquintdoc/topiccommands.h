#pragma once

#include "doctool.h"

namespace velquintdoc {

// index, topic, attachments, set-read, clear, age.
std::span<const Command> TopicCommands();

} // namespace velquintdoc
