#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace testsupport {

TempDir::TempDir() {
    if (!dir_.isValid())
        ADD_FAILURE() << "cannot create a temporary folder: " << dir_.errorString().toStdString();
}

} // namespace testsupport
