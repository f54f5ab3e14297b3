// The demo shop's project for the engine's tests: made once per test program
// by the demo tool into a template folder, then copied into a fresh folder
// for each test, which opens it with its own engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/register/engine/reg_com.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/source_tree.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex_test {

namespace fs = std::filesystem;

// A folder of this test program's own under the system's temporary folder,
// removed when the program ends.
inline fs::path testRoot() {
  struct Root {
    fs::path path;
    Root() {
      const auto stamp = fs::file_time_type::clock::now().time_since_epoch().count();
      path = fs::temp_directory_path() / ("varnex-engine-" + std::to_string(stamp));
      fs::remove_all(path);
      fs::create_directories(path);
    }
    ~Root() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static Root root;
  return root.path;
}

// The demo project made by the tool. Making it writes every record through
// to the disk, which takes seconds, so one copy is kept in the build tree's
// test data folder for every test process, named after the tool's build and
// the definition's time, so a rebuilt tool or a changed definition makes a
// fresh one.
inline const fs::path& demoTemplate() {
  static fs::path folder = [] {
    std::error_code ec;
    const fs::path definition = fs::path(testing_support::sourceTree()) / "res/varnex/Varnex.project";
    const auto built = fs::last_write_time(VARNEX_MKDEMO, ec).time_since_epoch().count();
    const auto defined = fs::last_write_time(definition, ec).time_since_epoch().count();
    const char* data = std::getenv("XDG_DATA_HOME");
    fs::path shared = fs::path(data ? data : testRoot().string()) /
                      ("varnex-demo-" + std::to_string(built) + "-" + std::to_string(defined));
    if (fs::exists(shared / "complete")) return shared;
    // Made aside and renamed into place, so that parallel tests never see half of it.
    fs::path made = testRoot() / "template";
    std::string command = std::string("\"") + VARNEX_MKDEMO + "\" \"" + made.string() + "\" > /dev/null";
    int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0) << command;
    if (rc != 0) return made;
    std::FILE* mark = std::fopen((made / "complete").c_str(), "wb");
    if (mark) std::fclose(mark);
    fs::rename(made, shared, ec);
    return fs::exists(shared / "complete") ? shared : made;
  }();
  return folder;
}

// All files below a folder with their bytes.
inline std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::FILE* f = std::fopen(entry.path().c_str(), "rb");
    std::string bytes;
    char buffer[4096];
    size_t n;
    while (f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    if (f) std::fclose(f);
    files[fs::relative(entry.path(), folder).string()] = bytes;
  }
  return files;
}

class DemoProject : public ::testing::Test {
 protected:
  void SetUp() override {
    // The framework installs its own message-box answerer when it starts; it
    // must start before the scripted one is installed.
    platform::ui::ensureApplication();
    boxes = std::make_unique<testing_support::ScriptedMessageBox>();
    ZemtaEnableLastErrorMessage(0);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = testRoot() / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (copyDemo) {
      fs::copy(demoTemplate(), folder, fs::copy_options::recursive);
      fs::remove(folder / "complete");
    }
    engine = std::make_unique<varnex::reg::CRegCom>();
    engine->SetDataFolder(folder.string());
  }
  void TearDown() override {
    engine.reset();
    boxes.reset();
    ZemtaEnableLastErrorMessage(1);
    fs::remove_all(folder);
  }

  bool open() { return engine->Open() != 0; }

  // Record n of a table of the open engine.
  std::vector<uint8_t> read(varnex::reg::TableIndex t, int32_t n) {
    std::vector<uint8_t> r(varnex::reg::kTables[t].recordLen, 0);
    EXPECT_EQ(FileDBRecRead(engine->Table(t), n, r.data()), 0) << "table " << t << " record " << n;
    return r;
  }
  void write(varnex::reg::TableIndex t, int32_t n, const std::vector<uint8_t>& r) {
    ASSERT_EQ(FileDBRecWrite(engine->Table(t), n, r.data()), 0) << "table " << t << " record " << n;
  }
  std::string text(const std::vector<uint8_t>& r, const varnex::reg::FieldPlace& f) {
    return varnex::reg::getText(r.data(), f.offset, f.size);
  }

  bool copyDemo = true;
  fs::path folder;
  std::unique_ptr<testing_support::ScriptedMessageBox> boxes;
  std::unique_ptr<varnex::reg::CRegCom> engine;
};

}  // namespace varnex_test
