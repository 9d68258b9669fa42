#pragma once

#include <QString>
#include <stdexcept>

namespace platform {

// The common base of every error the program raises; the message is shown to the user as is.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& Message() const { return message_; }

private:
    QString message_;
};

} // namespace platform
