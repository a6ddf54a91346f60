// The main of every test program: the tests run in a temporary prefix of their own, so that a
// test that does not set up its own prefix writes there, never below the home directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/testing/temp_prefix.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  const platform::testing::TempPrefix prefix;
  return RUN_ALL_TESTS();
}
