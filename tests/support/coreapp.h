#pragma once

#include <QCoreApplication>

#include <memory>

namespace testsupport {

// An application object for the scope of a test that dispatches events (posted messages, local
// sockets, processes); an existing one is used as it is.
class CoreApplication {
public:
    CoreApplication() {
        if (QCoreApplication::instance() == nullptr)
            app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }

private:
    inline static int argc_ = 1;
    inline static char name_[] = "velquint-tests";
    inline static char* argv_[] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

} // namespace testsupport
