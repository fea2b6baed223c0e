// The window tests' application: Qt's offscreen platform unless another is named, under a French
// desktop's locale (built by the test build from Debian's locale sources), as the window's users
// have it: Qt takes every locale category from it when the application starts.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "boxtally/ui/application.h"

namespace testing_support {

class FrenchDesktop : public testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    setenv("LOCPATH", BOXTALLY_TEST_LOCPATH, 1);
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    app_ = new QApplication(argc_, argv_);
    ui::PrepareApplication(*app_);
  }
  void TearDown() override { delete app_; }

 private:
  int argc_ = 1;
  char name_[16] = "window_test";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

}  // namespace testing_support
