// The connection side of the ODBC link: the connection string kept in the
// header of "ODBCリンク", taken apart and put together again, the connect
// with the parts adapted to this machine, the driver's messages.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/register/engine/reg_com.h"
#include "platform/base/cp932.h"
#include "platform/base/message_box.h"
#include "zemta/filedb.h"
#include "zemta/scan.h"

namespace varnex::reg {

namespace {

const char kBadName[] = "ＯＤＢＣデータソースの接続名が不適切です\nアプリケーションの実行を継続できません";
const char kConnectFailed[] = "ＯＤＢＣデータソースに接続できません\nアプリケーションの実行を継続できません";

// The embedded default outside database: an SQLite file in the data folder.
const char kDefaultDatabase[] = "Varnex.sqlite3";

bool sameNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool endsNoCase(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && sameNoCase(text.substr(text.size() - n), suffix);
}

// Copies a value into a 256-byte field; false when it does not fit.
bool store(char (&field)[256], const std::string& value) {
  if (value.size() >= sizeof field) return false;
  std::memcpy(field, value.c_str(), value.size() + 1);
  return true;
}

}  // namespace

bool CDatabase::OpenEx(const char* connect, uint32_t options) {
  inTransaction_ = false;
  // Without a string there is nothing to connect to: no driver dialog here.
  if (!connect || !*connect) return false;
  given_ = connect;
  return connection_.open(connect);
}

std::string CDatabase::GetConnect() const {
  const std::string& completed = connection_.connectString();
  auto names = [&](const char* key) {
    for (size_t at = 0; (at = completed.find(key, at)) != std::string::npos; at += std::strlen(key)) {
      const size_t value = at + std::strlen(key);
      if ((at == 0 || completed[at - 1] == ';') && value < completed.size() && completed[value] != ';') return true;
    }
    return false;
  };
  if (names("DRIVER=") || names("Driver=") || names("DSN=") || names("FILEDSN=")) return completed;
  return given_;
}

bool CDatabase::CommitTrans() {
  const bool ok = connection_.commit();
  // The link goes back to committing each statement on its own either way.
  const bool back = connection_.setAutoCommit(true);
  return ok && back;
}

bool CDatabase::Rollback() {
  const bool ok = connection_.rollback();
  const bool back = connection_.setAutoCommit(true);
  return ok && back;
}

int32_t CRegCom::ParseConnectString(int32_t length, const char* text, OdbcConnectParams* params) {
  if (!params) return -1;
  std::memset(params, 0, sizeof *params);
  params->sourceKind = 1;
  params->trusted = -1;
  if (!text || length == 0 || (length < 0 && !*text)) return 0;
  if (length < 0) length = static_cast<int32_t>(std::strlen(text));
  odbc_.excel = 0;

  static const char* const kKeys[] = {"DSN",      "DRIVER", "UID",    "PWD",         "Trusted_Connection",
                                      "DATABASE", "WSID",   "APP",    "SERVER",      "Description",
                                      "FILEDSN",  "DefaultDir", "DBQ"};
  enum { kDsn, kDriver, kUid, kPwd, kTrusted, kDatabase, kWsid, kApp, kServer, kDescription, kFileDsn,
         kDefaultDir, kDbq, kOther };
  std::string other;
  std::string otherKey;
  int key = -1;  // -1 none, else a key index (kOther for one outside the list)
  std::string value;
  bool valueStarted = false;
  int32_t position = 0;
  std::string word;
  word.resize(4096);

  auto complete = [&]() -> bool {
    char matched[256];
    switch (key) {
      case kDsn:
      case kFileDsn:
      case kDefaultDir:
      case kDbq: {
        if (value.size() >= 256) return false;
        MatchDriverName(target_.c_str(), value.c_str(), matched, sizeof matched);
        char(&field)[256] = key == kDsn ? params->dsn
                            : key == kFileDsn ? params->fileDsn
                            : key == kDefaultDir ? params->defaultDir
                                                 : params->dbq;
        if (!store(field, matched)) return false;
        if (key == kDsn || key == kFileDsn) params->sourceKind = 0;
        if (key == kDbq && (endsNoCase(matched, ".xls") || endsNoCase(matched, ".xlsx"))) odbc_.excel = 1;
        return true;
      }
      case kDriver:
        if (sameNoCase(value, "EXCEL")) odbc_.excel = 1;
        return store(params->driver, value);
      case kTrusted:
        if (sameNoCase(value, "Yes")) params->trusted = 1;
        else if (sameNoCase(value, "No")) params->trusted = 0;
        else return false;
        return true;
      case kUid: return store(params->uid, value);
      case kPwd: return store(params->pwd, value);
      case kDatabase: return store(params->database, value);
      case kWsid: return store(params->wsid, value);
      case kApp: return store(params->app, value);
      case kServer: return store(params->server, value);
      case kDescription: return store(params->description, value);
      default: {
        other += otherKey + "=" + value + ";";
        return other.size() < sizeof params->other && store(params->other, other);
      }
    }
  };

  while (position >= 0) {
    int32_t fieldLength = 4095;
    const int32_t ended = NextData(length, text, &fieldLength, word.data(), &position, 0, ";=", 1, 0);
    if (ended < 0) return -1;
    const std::string w(word.data(), static_cast<size_t>(fieldLength));
    if (ended == 2) {  // the word is followed by "="
      if (key != -1) return -1;  // a second "=" inside a value
      if (w.empty()) return -1;  // a pair without a key
      key = kOther;
      for (int k = 0; k < kOther; ++k)
        if (sameNoCase(w, kKeys[k])) key = k;
      otherKey = w;
      value.clear();
      valueStarted = false;
      continue;
    }
    const bool more = ended == 0 && position >= 0;  // another word follows
    if (key == -1) {
      if (more && !w.empty()) return -1;  // a key of two words
      continue;                            // a lone word: dropped
    }
    if (!w.empty()) {
      if (valueStarted) value += ' ';
      value += w;
      valueStarted = true;
    }
    if (value.size() >= 256) return -1;
    if (more) continue;
    if (!complete()) return -1;
    key = -1;
  }
  return 0;
}

int32_t CRegCom::BuildConnectString(char* out, const OdbcConnectParams& p) {
  if (!out) return -1;
  std::string s;
  auto part = [&](const char* name, const char* value) {
    if (value[0]) s += std::string(name) + "=" + value + ";";
  };
  part("DRIVER", p.driver);
  part("DSN", p.dsn);
  part("FILEDSN", p.fileDsn);
  part("UID", p.uid);
  part("PWD", p.pwd);
  if (p.trusted >= 1) s += "Trusted_Connection=Yes;";
  else if (p.trusted == 0) s += "Trusted_Connection=No;";
  part("DATABASE", p.database);
  part("WSID", p.wsid);
  part("APP", p.app);
  part("SERVER", p.server);
  part("Description", p.description);
  part("DefaultDir", p.defaultDir);
  part("DBQ", p.dbq);
  s += p.other;
  // The header keeps the string zero-terminated: a longer one is refused.
  if (s.size() >= kOdbcHeaderLen) {
    out[0] = 0;
    return -1;
  }
  std::memcpy(out, s.c_str(), s.size() + 1);
  return 0;
}

void CRegCom::OdbcClose() {
  if (odbc_.database && odbc_.database->IsOpen()) odbc_.database->Close();
}

void CRegCom::OdbcDropLink() {
  if (odbc_.database) {
    if (odbc_.database->IsOpen()) odbc_.database->Close();
    odbc_.database.reset();
  }
  for (OdbcKindMap& kind : odbc_.kinds) kind.count = 0;
}

int32_t CRegCom::OdbcConnect() {
  if (notOpen("CRegCom")) return 0;
  FileDBHandle link = tables_[kOdbcLinkTable];
  char header[kOdbcHeaderLen];
  if (FileDBRead(link, 0, header, sizeof header) != static_cast<int32_t>(sizeof header)) {
    ReportError("CRegCom", 0x20000005u);
    return 0;
  }
  if (std::memchr(header, 0, sizeof header) == nullptr) {
    showBox(kBadName, platform::kMbIconError);
    return 0;
  }
  if (!odbc_.database) odbc_.database = std::make_unique<CDatabase>();
  if (odbc_.database->IsOpen()) odbc_.database->Close();

  auto opened = [&](const char* connect) -> bool {
    if (odbc_.database->OpenEx(connect, 0)) return true;
    // The driver's own message when it gave one (what went wrong), else the
    // register's.
    const std::string& error = odbc_.database->LastError();
    if (!error.empty() && connect && *connect)
      showBox(error, platform::kMbIconWarning);
    else
      showBox(kConnectFailed, platform::kMbIconError);
    return false;
  };

  OdbcConnectParams params;
  if (header[0] != 0) {
    if (ParseConnectString(-1, header, &params) != 0) {
      showBox(kBadName, platform::kMbIconError);
      return 0;
    }
    // The machine's remote server replaces a stored server of another name,
    // and the header keeps it.
    if (params.server[0] && !serverName_.empty() && !sameNoCase(serverName_, params.server)) {
      if (serverName_.size() >= sizeof params.server) {
        showBox(kBadName, platform::kMbIconError);
        return 0;
      }
      store(params.server, serverName_);
      char rebuilt[kOdbcHeaderLen];
      if (BuildConnectString(rebuilt, params) != 0) {
        showBox(kBadName, platform::kMbIconError);
        return 0;
      }
      std::memset(header, 0, sizeof header);
      std::memcpy(header, rebuilt, std::strlen(rebuilt));
      if (FileDBWrite(link, 0, header, sizeof header) != static_cast<int32_t>(sizeof header)) return 0;
    }
    // Adaptations for this connection only, never written back.
    if (params.sourceKind == 1) store(params.dsn, "FILEDSN");
    // The login of an integrated (trusted) connection is the person at this
    // machine; an SQL login keeps its stored user, whose password is stored
    // beside it.
    if (params.trusted == 1 && params.uid[0] && !userName_.empty() && !sameNoCase(userName_, params.uid))
      store(params.uid, userName_);
    if (params.wsid[0] && !hostName_.empty() && !sameNoCase(hostName_, params.wsid)) store(params.wsid, hostName_);
    const std::string driver = params.driver;
    odbc_.foreign = 1;
    for (const char* own : {"ZEMTA ODBC Server", "ZEMTA IFS Server"}) {
      if (sameNoCase(driver, own) || (!driver.empty() && driver[0] == '{' && sameNoCase(driver, ("{" + std::string(own) + "}").c_str())))
        odbc_.foreign = 0;
    }
    char connect[kOdbcHeaderLen];
    if (BuildConnectString(connect, params) != 0) {
      showBox(kBadName, platform::kMbIconError);
      return 0;
    }
    if (!opened(connect)) return 0;
    return 1;
  }

  // No link defined: the embedded default, an SQLite database in the data
  // folder, which then becomes the stored link.
  const std::string connect = "DRIVER=SQLite3;DATABASE=" + dataFolder_ + kDefaultDatabase + ";";
  if (!opened(connect.c_str())) return 0;
  const std::string completed = odbc_.database->GetConnect();
  if (completed.size() >= sizeof header) {
    showBox(kBadName, platform::kMbIconError);
    return 0;
  }
  std::memset(header, 0, sizeof header);
  std::memcpy(header, completed.data(), completed.size());
  if (ParseConnectString(-1, header, &params) != 0) {
    showBox(kBadName, platform::kMbIconError);
    return 0;
  }
  if (FileDBWrite(link, 0, header, sizeof header) != static_cast<int32_t>(sizeof header)) return 0;
  return 1;
}

void CRegCom::ReportOdbcError(OdbcStmt* statement) {
  if (!OdbcIsOpen()) {
    if (statement) OdbcDrop(statement);
    ReportError("CRegCom", 0x20003001u);
    return;
  }
  // The statement's own diagnostic; the connection's when there is no
  // statement (one that could not be made).
  std::string text = statement && *statement ? (*statement)->lastError() : odbc_.database->LastError();
  if (statement) OdbcDrop(statement);
  if (text.size() > 255) {
    // Cut to the diagnostic buffer, never inside a double-byte character.
    size_t n = 0;
    while (n < text.size()) {
      const size_t step = platform::cp932::isLeadByte(static_cast<uint8_t>(text[n])) ? 2 : 1;
      if (n + step > 255) break;
      n += step;
    }
    text.resize(n);
  }
  if (!text.empty()) showBox(text, platform::kMbIconWarning);
}

}  // namespace varnex::reg
