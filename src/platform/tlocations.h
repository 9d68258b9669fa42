#pragma once

#include <QString>

namespace platform {

// The user's documents folder without a trailing "/", or empty when it cannot be determined.
QString DocumentsFolder();

} // namespace platform
