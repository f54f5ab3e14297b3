// Every window test runs on a real application object, offscreen.
#pragma once

#include <gtest/gtest.h>

#include "platform/ui/window.h"

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::ui::ensureApplication(); }
  void TearDown() override { platform::ui::processPendingMessages(); }
};
