// A one-table project of departments, made by the project maker in a
// temporary folder and opened, with three departments written: the fixture of
// the upkeep and backup tests. Each test program gives its own definition
// (which indexes and key rules the table has).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"

namespace store_test {

// A 32-byte department record: number (u16) at 0, name (20 bytes) at 2,
// kind (u16) at 22.
inline std::vector<uint8_t> department(uint16_t number, const char* name, uint16_t kind = 1) {
  std::vector<uint8_t> r(32, 0);
  r[0] = number & 0xFF;
  r[1] = number >> 8;
  std::memcpy(r.data() + 2, name, std::strlen(name));
  r[22] = kind & 0xFF;
  return r;
}

class DepartmentProject : public ::testing::Test {
 protected:
  // Makes and opens the project of the definition (fdb id 5 is the table)
  // and writes the departments 10 総務, 11 営業 and 12 経理.
  void openProject(const char* definitionText) {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    ASSERT_EQ(FileSetLocPath(folder_.file("Local").c_str()), 0);
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(definitionText, definition, error)) << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    table_ = FileProjGetFdb(project_, 5);
    ASSERT_NE(table_, 0u);
    data_ = folder_.file("App/Res/Data/Tab/");
    const char* names[] = {"総務", "営業", "経理"};
    for (uint16_t i = 0; i < 3; ++i) ASSERT_EQ(FileDBRecWrite(table_, i, department(10 + i, names[i]).data()), 0);
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    FileSetLocPath(nullptr);
    ZemtaEnableLastErrorMessage(messages_);
  }

  TempFolder folder_;
  std::string catalog_, data_;
  FileProjHandle project_ = 0;
  FileDBHandle table_ = 0;
  int32_t messages_ = 0;
};

}  // namespace store_test
