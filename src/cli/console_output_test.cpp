#include "cli/console_output.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

// A handle that cannot be written must end the write at once: the run goes
// on instead of retrying forever.
TEST(ConsoleOutputTest, UnusableHandleFailsWithoutWriting) {
    EXPECT_FALSE(WriteAllToHandle(nullptr, "Holwerk\r\n"));
    EXPECT_FALSE(WriteAllToHandle(INVALID_HANDLE_VALUE, "Holwerk\r\n"));
}

}  // namespace
}  // namespace holwerk
