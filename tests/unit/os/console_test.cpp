#ifdef _WIN32
#include "os/console.hpp"

#include <gtest/gtest.h>
#include <windows.h>

namespace nm::os {
// A non-blocking pipe reports success with nothing written: fail, not spin.
TEST(Console, OutputThatTakesNothingFails) {
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 4096));
  DWORD mode = PIPE_NOWAIT;
  ASSERT_TRUE(SetNamedPipeHandleState(write_end, &mode, nullptr, nullptr));
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, write_end);
  const Status st = write_stdout(std::string(1 << 20, 'x'));
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  CloseHandle(write_end);
  CloseHandle(read_end);
  EXPECT_FALSE(st.ok());
}
}  // namespace nm::os
#endif
