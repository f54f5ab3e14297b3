// Project definitions: the readable text from which the project maker builds
// a catalog (project_writer.h). The grammar, one statement per line, '#'
// starting a comment line:
//
//   project folder="<data folder>" folders="<f0>" "<f1>" "<f2>" "<f3>" "<f4>"
//   table "<name>" fdb=<i32> id=<u16> header=<u16> record=<u16> file="<file>"
//     hfield "<name>" id=<i32> offset=<u16> size=<u16> type=<code>[.<dec>] [bits=<count>:<position>]
//     field  "<name>" id=<i32> offset=<u16> size=<u16> type=<code>[.<dec>] [bits=<count>:<position>]
//            [index="<file>"] [flags=<hex>] [rules=<hex>] [ref=<table>:<field>]
//     composite "<index file>" <field number> <field number> [<field number>]
//   end
//   resource "<title>" file="<file>" [flags=<hex>] [attr=<u16>] [tables=<id>[,<id>[,<id>]]] [form=<u16>]
//
// The text is UTF-8; quoted text is taken literally (no escapes) and names
// are stored in code page 932. A table or field name longer than the
// catalog's 16 bytes keeps its first 16 bytes (never half a double-byte
// character); lookups by name compare what is kept.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zemta::fileproj {

struct FieldDefinition {
  std::string name;  // code page 932, cut to 16 bytes
  int32_t id = 0;
  uint16_t offset = 0, size = 0;
  uint16_t typeCode = 0, decimals = 0;
  uint16_t fieldWord = 0;
  std::string index;
  uint32_t flags = 0;
  uint32_t rules = 0;
  uint8_t imeMode = 0;  // how a key of the field is typed (Field::imeMode)
  std::string refTable, refField;  // names as written, code page 932
  uint16_t refTableId = 0, refFieldId = 0;
  int line = 0;
};

struct CompositeDefinition {
  std::string file;
  std::vector<uint16_t> fields;
};

struct TableDefinition {
  std::string name;  // code page 932, cut to 16 bytes
  std::string fullName;
  int32_t fdbId = 0;
  uint16_t id = 0, headerLen = 0, recordLen = 0;
  std::string file;
  std::vector<FieldDefinition> headerFields, fields;
  std::vector<CompositeDefinition> composites;
  int line = 0;
};

// A form of the project (its catalog entry; the file itself is not made).
struct ResourceDefinition {
  std::string title;  // code page 932, at most 19 bytes
  std::string file;   // code page 932, at most 71 bytes
  uint32_t flags = 0;
  uint16_t attribute = 0;
  std::array<uint16_t, 3> tables{};
  uint16_t formWord = 0;
};

struct ProjectDefinition {
  std::string dataFolder;
  std::array<std::string, 5> folders;
  std::vector<TableDefinition> tables;
  std::vector<ResourceDefinition> resources;
};

// Parses and checks a definition. False with a message naming the line.
bool parseProjectDefinition(const std::string& utf8Text, ProjectDefinition& out, std::string& error);

}  // namespace zemta::fileproj
