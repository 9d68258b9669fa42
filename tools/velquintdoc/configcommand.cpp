#include "configcommand.h"

#include "session.h"

#include "config/tconfiguration.h"

#include <QJsonObject>
#include <QJsonValue>

namespace velquintdoc {

namespace {

int Config(Session& session, const Invocation& invocation) {
    const auto values = session.Configuration().Values();
    if (invocation.json) {
        QJsonObject object;
        for (const auto& [name, value] : values)
            object.insert(name, QJsonValue::fromVariant(value));
        session.PrintJson(object);
        return kExitOk;
    }
    QString text;
    for (const auto& [name, value] : values)
        text += name + QStringLiteral(" = ") + value.toString() + u'\n';
    session.Print(text);
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"config",
     "",
     "every setting as the program loads it from the current user's settings file\n"
     "(defaults for what is missing, numbers clamped into their ranges), one\n"
     "\"name = value\" a line in reading order; --json gives one object. The settings\n"
     "file is found through XDG_CONFIG_HOME, else HOME; takes no --file",
     0,
     {nullptr, nullptr},
     true,
     false,
     Config},
};

} // namespace

std::span<const Command> ConfigCommands() {
    return kCommands;
}

} // namespace velquintdoc
