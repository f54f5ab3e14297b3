// The profile store: what the original keeps in the registry. One INI-style
// file per scope; a key path ("Software\\Maker\\Varnex\\Settings") is a
// section, values are integers or texts (code page 932 bytes).
//
// The per-user file lives in configFolder(), the machine-wide one in
// $VARNEX_MACHINE_CONFIG or /etc/varnex; tests point both at their own folders
// through the environment. Writes go to the file at once (written to a
// temporary name and renamed, so a crash never leaves half a file).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class ProfileScope { User, Machine };

class Profile {
 public:
  // The profile of a scope; fileName names the file inside the scope's folder.
  static Profile& of(ProfileScope scope, const std::string& fileName = "varnex.ini");

  std::optional<std::string> getString(const std::string& section, const std::string& key) const;
  std::optional<int64_t> getInt(const std::string& section, const std::string& key) const;
  std::string getString(const std::string& section, const std::string& key, const std::string& fallback) const;
  int64_t getInt(const std::string& section, const std::string& key, int64_t fallback) const;
  // Binary values are kept as hexadecimal text.
  std::optional<std::string> getBinary(const std::string& section, const std::string& key) const;

  bool setString(const std::string& section, const std::string& key, const std::string& value);
  bool setInt(const std::string& section, const std::string& key, int64_t value);
  bool setBinary(const std::string& section, const std::string& key, const std::string& bytes);
  bool deleteValue(const std::string& section, const std::string& key);
  bool deleteSection(const std::string& section);  // and every section below it

  bool hasSection(const std::string& section) const;
  std::vector<std::string> sections() const;
  std::vector<std::string> keys(const std::string& section) const;
  // Whether a value is stored as an integer (written by setInt).
  bool isInt(const std::string& section, const std::string& key) const;

  std::string filePath() const;
  // Forget what was read, so the next call reads the file again.
  void reload();

 private:
  Profile(ProfileScope scope, std::string fileName);
  struct Data;
  ProfileScope scope_;
  std::string fileName_;
  mutable std::shared_ptr<Data> data_;
};

}  // namespace platform
