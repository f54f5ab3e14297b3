// The parser of project definitions (grammar in project_definition.h).
#include "lib/store/project/project_definition.h"

#include <cstdlib>
#include <map>
#include <set>

#include "lib/store/project/fileproj_internal.h"
#include "platform/base/cp932.h"

namespace zemta::fileproj {
namespace {

struct Token {
  std::string key;    // before '=' (empty for a plain word or a quoted text)
  std::string value;  // the text; a quoted value without its quotes
  bool quoted = false;
  std::vector<std::string> more;  // further quoted texts after key="..."
};

bool tokenize(const std::string& line, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    Token t;
    auto readQuoted = [&](std::string& into) {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) {
        error = "unterminated quote";
        return false;
      }
      into = line.substr(i + 1, end - i - 1);
      i = end + 1;
      return true;
    };
    if (line[i] == '"') {
      if (!readQuoted(t.value)) return false;
      t.quoted = true;
      if (!out.empty() && !out.back().key.empty() && out.back().quoted) {
        out.back().more.push_back(t.value);
        continue;
      }
    } else {
      size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '=' && line[i] != '\r') ++i;
      std::string word = line.substr(start, i - start);
      if (i < line.size() && line[i] == '=') {
        t.key = word;
        ++i;
        if (i < line.size() && line[i] == '"') {
          if (!readQuoted(t.value)) return false;
          t.quoted = true;
        } else {
          size_t vs = i;
          while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            if (line[i] == '"') {
              size_t end = line.find('"', i + 1);
              if (end == std::string::npos) {
                error = "unterminated quote";
                return false;
              }
              i = end + 1;
            } else {
              ++i;
            }
          }
          t.value = line.substr(vs, i - vs);
        }
      } else {
        t.value = word;
      }
    }
    out.push_back(t);
  }
  return true;
}

bool number(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != 0 || v < low || v > high) return false;
  out = v;
  return true;
}

bool toCp932(const std::string& utf8, std::string& out) { return platform::utf8ToCp932(utf8, out); }

std::string unquote(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

bool parseProjectDefinition(const std::string& text, ProjectDefinition& out, std::string& error) {
  out = ProjectDefinition{};
  bool haveProject = false;
  TableDefinition* table = nullptr;
  int lineNumber = 0;
  size_t at = 0;
  auto fail = [&](const std::string& message) {
    error = "line " + std::to_string(lineNumber) + ": " + message;
    return false;
  };
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::vector<Token> tokens;
    std::string tokenError;
    if (!tokenize(line, tokens, tokenError)) return fail(tokenError);
    const std::string word = tokens[0].value;
    std::map<std::string, Token> named;
    std::vector<Token> plain;
    for (size_t i = 1; i < tokens.size(); ++i) {
      if (tokens[i].key.empty()) {
        plain.push_back(tokens[i]);
      } else if (!named.emplace(tokens[i].key, tokens[i]).second) {
        return fail("\"" + tokens[i].key + "\" given twice");
      }
    }
    auto get = [&](const char* key, int64_t low, int64_t high, int64_t& value, bool required) -> bool {
      auto it = named.find(key);
      if (it == named.end()) {
        if (required) error = std::string("missing ") + key + "=";
        return !required;
      }
      if (!number(it->second.value, low, high, value)) {
        error = std::string("bad value of ") + key + "=";
        return false;
      }
      return true;
    };
    auto known = [&](std::initializer_list<const char*> keys) -> bool {
      for (const auto& [key, token] : named) {
        bool ok = false;
        for (const char* k : keys) ok = ok || key == k;
        if (!ok) {
          error = "unknown \"" + key + "=\"";
          return false;
        }
      }
      return true;
    };

    if (word == "project") {
      if (haveProject || table) return fail("\"project\" must come once, before the tables");
      if (!known({"folder", "folders"})) return fail(error);
      auto folder = named.find("folder");
      auto folders = named.find("folders");
      if (folder == named.end() || folders == named.end()) return fail("\"project\" needs folder= and folders=");
      if (!toCp932(folder->second.value, out.dataFolder)) return fail("folder is not code page 932 text");
      if (out.dataFolder.size() > kHeaderDataFolderLen - 1) return fail("data folder longer than 35 bytes");
      std::vector<std::string> list{folders->second.value};
      list.insert(list.end(), folders->second.more.begin(), folders->second.more.end());
      if (list.size() != 5) return fail("folders= needs five quoted folders");
      for (size_t i = 0; i < 5; ++i) {
        if (!toCp932(list[i], out.folders[i])) return fail("a folder is not code page 932 text");
        if (out.folders[i].size() > kHeaderFolderLen - 1) return fail("folder longer than 127 bytes");
      }
      haveProject = true;
    } else if (word == "table") {
      if (!haveProject) return fail("\"table\" before \"project\"");
      if (table) return fail("\"table\" inside a table (missing \"end\")");
      if (plain.size() != 1 || !plain[0].quoted) return fail("\"table\" needs one quoted name");
      if (!known({"fdb", "id", "header", "record", "file"})) return fail(error);
      TableDefinition t;
      t.line = lineNumber;
      if (!toCp932(plain[0].value, t.fullName)) return fail("table name is not code page 932 text");
      t.name = cutName(t.fullName);
      if (t.name.empty()) return fail("empty table name");
      int64_t v;
      if (!get("fdb", 1, INT32_MAX, v, true)) return fail(error);
      t.fdbId = static_cast<int32_t>(v);
      if (!get("id", 1, 0xFFFF, v, true)) return fail(error);
      t.id = static_cast<uint16_t>(v);
      if (!get("header", 0, 0xFFFF, v, true)) return fail(error);
      t.headerLen = static_cast<uint16_t>(v);
      if (!get("record", 1, 0xFFFF, v, true)) return fail(error);
      t.recordLen = static_cast<uint16_t>(v);
      auto file = named.find("file");
      if (file == named.end() || !toCp932(file->second.value, t.file) || t.file.empty())
        return fail("\"table\" needs file=");
      if (t.file.size() > kTableFileLen - 1) return fail("file name longer than 17 bytes");
      for (const auto& other : out.tables) {
        if (other.fdbId == t.fdbId) return fail("fdb id " + std::to_string(t.fdbId) + " used twice");
        if (other.name == t.name) return fail("two tables are named alike in their first 16 bytes");
      }
      out.tables.push_back(t);
      table = &out.tables.back();
    } else if (word == "field" || word == "hfield") {
      if (!table) return fail("\"" + word + "\" outside a table");
      const bool header = word == "hfield";
      if (plain.size() != 1 || !plain[0].quoted) return fail("a field needs one quoted name");
      if (header ? !known({"id", "offset", "size", "type", "bits"})
                 : !known({"id", "offset", "size", "type", "bits", "index", "flags", "rules", "ref", "ime"}))
        return fail(error);
      FieldDefinition f;
      f.line = lineNumber;
      std::string full;
      if (!toCp932(plain[0].value, full)) return fail("field name is not code page 932 text");
      f.name = cutName(full);
      if (f.name.empty()) return fail("empty field name");
      int64_t v;
      if (!get("id", INT32_MIN, INT32_MAX, v, true)) return fail(error);
      f.id = static_cast<int32_t>(v);
      if (!get("offset", 0, 0xFFFF, v, true)) return fail(error);
      f.offset = static_cast<uint16_t>(v);
      if (!get("size", 1, 0xFFFF, v, true)) return fail(error);
      f.size = static_cast<uint16_t>(v);
      auto type = named.find("type");
      if (type == named.end()) return fail("missing type=");
      {
        std::string code = type->second.value, decimals;
        size_t dot = code.find('.');
        if (dot != std::string::npos) {
          decimals = code.substr(dot + 1);
          code = code.substr(0, dot);
        }
        int64_t c, d = 0;
        if (!number(code, 0, 63, c) || (!decimals.empty() && !number(decimals, 0, 31, d)))
          return fail("bad value of type=");
        f.typeCode = static_cast<uint16_t>(c);
        f.decimals = static_cast<uint16_t>(d);
      }
      auto bits = named.find("bits");
      if (bits != named.end()) {
        size_t colon = bits->second.value.find(':');
        int64_t count, position;
        if (colon == std::string::npos || !number(bits->second.value.substr(0, colon), 1, 32, count) ||
            !number(bits->second.value.substr(colon + 1), 0, 31, position) || count + position > 8 * f.size)
          return fail("bad value of bits=");
        f.fieldWord = static_cast<uint16_t>((count << 8) | position);
      }
      const uint32_t area = header ? table->headerLen : table->recordLen;
      if (static_cast<uint32_t>(f.offset) + f.size > area)
        return fail("field \"" + plain[0].value + "\" lies beyond the " + (header ? "header" : "record"));
      auto index = named.find("index");
      if (index != named.end()) {
        if (!toCp932(index->second.value, f.index) || f.index.empty() || f.index.size() > kFieldIndexLen - 1)
          return fail("index file name empty or longer than 15 bytes");
      }
      if (!get("flags", 0, UINT32_MAX, v, false)) return fail(error);
      if (named.count("flags")) f.flags = static_cast<uint32_t>(v);
      if (!get("rules", 0, UINT32_MAX, v, false)) return fail(error);
      if (named.count("rules")) f.rules = static_cast<uint32_t>(v);
      if (!get("ime", 0, 3, v, false)) return fail(error);
      if (named.count("ime")) f.imeMode = static_cast<uint8_t>(v);
      auto ref = named.find("ref");
      if (ref != named.end()) {
        std::string value;
        if (!toCp932(ref->second.value, value)) return fail("ref= is not code page 932 text");
        size_t colon = value.find(':');
        f.refTable = unquote(colon == std::string::npos ? value : value.substr(0, colon));
        f.refField = colon == std::string::npos ? std::string() : unquote(value.substr(colon + 1));
        if (f.refTable.empty()) return fail("ref= names no table");
      }
      auto& list = header ? table->headerFields : table->fields;
      for (const auto* other : {&table->headerFields, &table->fields})
        for (const auto& o : *other)
          if (o.id == f.id) return fail("field id " + std::to_string(f.id) + " used twice in the table");
      list.push_back(f);
    } else if (word == "composite") {
      if (!table) return fail("\"composite\" outside a table");
      if (plain.size() < 3 || plain.size() > 4 || !plain[0].quoted) return fail("composite: \"<file>\" and 2 or 3 field numbers");
      if (table->composites.size() >= 3) return fail("more than three composite indexes");
      CompositeDefinition c;
      if (!toCp932(plain[0].value, c.file) || c.file.empty() || c.file.size() > kCompositeFileLen - 1)
        return fail("composite index file name empty or longer than 15 bytes");
      for (size_t i = 1; i < plain.size(); ++i) {
        int64_t n;
        if (!number(plain[i].value, 0, 0xFFFF, n)) return fail("bad field number");
        c.fields.push_back(static_cast<uint16_t>(n));
      }
      table->composites.push_back(c);
    } else if (word == "resource") {
      if (!haveProject || table) return fail("\"resource\" belongs after the project, outside a table");
      if (plain.size() != 1 || !plain[0].quoted) return fail("\"resource\" needs one quoted title");
      if (!known({"file", "flags", "attr", "tables", "form"})) return fail(error);
      ResourceDefinition r;
      if (!toCp932(plain[0].value, r.title) || r.title.size() > 19) return fail("resource title longer than 19 bytes");
      auto file = named.find("file");
      if (file == named.end() || !toCp932(file->second.value, r.file) || r.file.empty() || r.file.size() > 71)
        return fail("\"resource\" needs file= of at most 71 bytes");
      int64_t v;
      if (!get("flags", 0, UINT32_MAX, v, false)) return fail(error);
      if (named.count("flags")) r.flags = static_cast<uint32_t>(v);
      if (!get("attr", 0, 0xFFFF, v, false)) return fail(error);
      if (named.count("attr")) r.attribute = static_cast<uint16_t>(v);
      if (!get("form", 0, 0xFFFF, v, false)) return fail(error);
      if (named.count("form")) r.formWord = static_cast<uint16_t>(v);
      auto ids = named.find("tables");
      if (ids != named.end()) {
        std::string rest = ids->second.value;
        for (size_t k = 0; !rest.empty(); ++k) {
          size_t comma = rest.find(',');
          int64_t id;
          if (k >= 3 || !number(rest.substr(0, comma), 0, 0xFFFF, id)) return fail("bad value of tables=");
          r.tables[k] = static_cast<uint16_t>(id);
          rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        }
      }
      out.resources.push_back(r);
    } else if (word == "end") {
      if (!table) return fail("\"end\" without a table");
      for (const auto& c : table->composites)
        for (uint16_t n : c.fields)
          if (n >= table->fields.size()) return fail("composite field number beyond the table's fields");
      table = nullptr;
    } else {
      return fail("unknown statement \"" + word + "\"");
    }
  }
  lineNumber = 0;
  if (!haveProject) return fail("no \"project\" statement");
  if (table) return fail("the last table has no \"end\"");
  // References name tables and fields anywhere in the definition.
  for (auto& t : out.tables)
    for (auto* list : {&t.headerFields, &t.fields})
      for (auto& f : *list) {
        if (f.refTable.empty()) continue;
        lineNumber = f.line;
        const TableDefinition* target = nullptr;
        for (const auto& o : out.tables)
          if (o.name == cutName(f.refTable)) target = &o;
        if (!target) return fail("ref= names no table of the project");
        if (target->fdbId > 0xFFFF) return fail("ref= table's fdb id does not fit 16 bits");
        f.refTableId = static_cast<uint16_t>(target->fdbId);
        if (!f.refField.empty()) {
          const FieldDefinition* field = nullptr;
          for (const auto* l : {&target->headerFields, &target->fields})
            for (const auto& o : *l)
              if (o.name == cutName(f.refField)) field = &o;
          if (!field) return fail("ref= names no field of that table");
          f.refFieldId = static_cast<uint16_t>(field->id);
        }
      }
  return true;
}

}  // namespace zemta::fileproj
