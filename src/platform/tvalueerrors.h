#pragma once

#include "platform/exception.h"

namespace platform {

// Raised by TValueReader: "Invalid property value" when the next value is not of the kind asked
// for (or carries a negative length), "Stream read error" when the stream ends inside a value.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// Raised by TValueWriter when the stream accepts fewer bytes than it was given.
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

} // namespace platform
