// What the printing tests share: the library's PDF target pointed at a fresh
// folder (with the resolution and pass-through a test asks for), the
// library's messages on and answered by a script, and a folder for the page
// pictures under the build tree's test output.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/views/print/print_internal.h"
#include "platform/base/profile.h"
#include "platform/ui/print_output.h"
#include "platform/ui/window.h"
#include "support/pdf_tools.h"
#include "support/scripted_message_box.h"
#include "support/temp_folder.h"
#include "zemta/errors.h"
#include "zemta/print.h"

namespace print_test {

// A UTF-8 text (what the PDF reader prints, what the CUPS server names its
// queues); plain literals here are code page 932.
inline std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(1);
    usePdf(600, true);
    // No server answers here: the tests that want one start their own.
    platform::ui::usePrintServer("127.0.0.1:9");
  }
  void TearDown() override {
    platform::ui::usePrintServer("");
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection("ZEMTA Print");
    ZemtaEnableLastErrorMessage(messages_);
  }
  // The PDF target: its folder is the test's own.
  void usePdf(int dotsPerInch, bool passThrough) {
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.setString("ZEMTA Print", "PDF Folder", folder_.path());
    profile.setInt("ZEMTA Print", "PDF Resolution", dotsPerInch);
    profile.setInt("ZEMTA Print", "PDF Pass-through", passThrough ? 1 : 0);
  }
  // The folder for this test's page pictures.
  static std::filesystem::path outputFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "print" / info->name();
    std::filesystem::create_directories(folder);
    return folder;
  }
  // Copies a printed PDF into the output folder and renders its first page there.
  static std::filesystem::path keepPicture(const std::string& pdf, const std::string& name, int dotsPerInch = 60) {
    const std::filesystem::path kept = outputFolder() / (name + ".pdf");
    std::filesystem::copy_file(pdf, kept, std::filesystem::copy_options::overwrite_existing);
    return testing_support::pdfPage(kept, dotsPerInch);
  }

  // The application comes first: making it installs the framework's own
  // message-box answerer, which the scripted one then replaces.
  struct Application {
    Application() { platform::ui::ensureApplication(); }
  } application_;
  testing_support::TempFolder folder_;
  testing_support::ScriptedMessageBox box_;
  int32_t messages_ = 0;
};

}  // namespace print_test
