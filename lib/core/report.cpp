#include "lib/core/report.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "lib/core/library_locks.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "zemta/fileex.h"
#include "zemta/sockifs.h"

namespace zemta {
namespace {

struct CatalogueEntry {
  uint32_t code;
  const char* text;
};

// The library's own codes, shown exactly as written here.
constexpr CatalogueEntry kCatalogue[] = {
    {0x20000001, "ファイルの読み込み、または、書き込みサイズが異なっていました。\nディスクが壊れている可能性がありますので、スキャンディスクを行ってみて下さい。"},
    {0x20000002, "ファイルのフォーマットが異なっていました。\nディスクが壊れている可能性がありますので、スキャンディスクを行ってみて下さい。"},
    {0x20000003, "ファイルにアクセスできません。\nファイルが壊れている可能性がありますので、スキャンディスクを行ってみて下さい。"},
    {0x20000004, "インデックスファイルの更新に失敗しています。\nインデックスファイルを修復するため、アプリケーションを再起動して下さい。"},
    {0x20000005, "使用中のため、ファイルにアクセスできません。"},
    {0x20000006, "ファイルの圧縮中に失敗しました。"},
    {0x20000007, "プリンタードライバーがパススルーをサポートしていません。"},
    {0x20000080, "関数への引数に無効なモードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000081, "関数への引数に無効なサイズを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000082, "関数への引数に無効なファイル名を指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000083, "関数への引数に無効なアクセスコードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000084, "関数への引数に無効な名前を指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000085, "関数への引数に無効なパラメータを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x200000FF, "関数への引数に無効なポインタを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000100, "関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000101, "インデックス関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000102, "ファイルデータベース関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000103, "プロジェクトファイルデータベース関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000104, "プロジェクト関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000105, "ビュー関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000106, "ファイルディスク関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20001001, "システムリソースが不足しています。\n幾つかのウィンドウを閉じて下さい。"},
    {0x20001002, "範囲外のメモリーにアクセスしようとしました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20001003, "使用中のメモリーにアクセスしようとしました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x200010F1, "ネスト可能な領域がありません。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x200010F2, "ネストされた領域はありません。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20002001, "タイマーリソースが不足しています。\n幾つかのウィンドウを閉じて下さい。"},
    {0x20008001, "プロジェクトの設定に矛盾を検出しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20009001, "ＳＱＬサーバーへの接続に失敗しました。\nサーバーが見つからないか、サーバーへの接続権限が無い可能性があります。"},
    {0x20009002, "ＳＱＬサーバーの閲覧に失敗しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
};

constexpr const char kDefaultText[] =
    "未定義のアプリケーションエラーコードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。";

// Texts for the system codes the library and the platform layer report. Linux
// has no Japanese text for Windows error numbers, so they are kept here.
constexpr CatalogueEntry kSystemTexts[] = {
    {0, "この操作を正しく終了しました。"},
    {1, "ファンクションが間違っています。"},
    {2, "指定されたファイルが見つかりません。"},
    {3, "指定されたパスが見つかりません。"},
    {4, "システムはファイルを開くことができません。"},
    {5, "アクセスが拒否されました。"},
    {6, "ハンドルが無効です。"},
    {8, "このコマンドを実行するのに十分な記憶域がありません。"},
    {13, "データが無効です。"},
    {14, "この操作を完了するのに十分な記憶域がありません。"},
    {19, "メディアは書き込み禁止になっています。"},
    {22, "デバイスが認識できないコマンドです。"},
    {25, "ドライブがディスクの特定の領域またはトラックを見つけられません。"},
    {29, "指定されたデバイスに書き込めません。"},
    {30, "指定されたデバイスから読み取れません。"},
    {31, "システムに接続されたデバイスが機能していません。"},
    {32, "プロセスはファイルにアクセスできません。別のプロセスが使用中です。"},
    {33, "プロセスはファイルにアクセスできません。別のプロセスがファイルの一部をロックしています。"},
    {38, "ファイルの終わりに到達しました。"},
    {39, "ディスクがいっぱいです。"},
    {50, "その要求はサポートされていません。"},
    {80, "ファイルが存在します。"},
    {87, "パラメーターが間違っています。"},
    {109, "パイプは終了しました。"},
    {112, "ディスクに十分な空き領域がありません。"},
    {123, "ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。"},
    {145, "ディレクトリが空ではありません。"},
    {170, "要求したリソースは使用中です。"},
    {183, "既に存在するファイルを作成することはできません。"},
    {206, "ファイル名または拡張子が長すぎます。"},
    {232, "パイプを閉じています。"},
    {258, "待ち操作がタイムアウトになりました。"},
    {995, "スレッドの終了またはアプリケーションの要求によって、I/O 処理は中止されました。"},
    {1223, "この操作はユーザーによって取り消されました。"},
    {1460, "タイムアウト期間が経過したため、この操作は終了しました。"},
    {10004, "ブロッキング操作は WSACancelBlockingCall の呼び出しに割り込まれました。"},
    {10035, "ブロック不可のソケット操作をすぐに完了できませんでした。"},
    {10053, "確立された接続がホスト コンピューターのソフトウェアによって中止されました。"},
    {10054, "既存の接続はリモート ホストに強制的に切断されました。"},
    {10057, "ソケットが接続されていないか、sendto 呼び出しを使ってデータグラム ソケットで送信するときにアドレスが指定されていないため、データの送受信に関する要求は許可されませんでした。"},
    {10060, "接続済みの呼び出し先が一定の時間を過ぎても正しく応答しなかったため、接続できませんでした。"},
    {10061, "対象のコンピューターによって拒否されたため、接続できませんでした。"},
    {10065, "到達できないホストに対してソケット操作を実行しようとしました。"},
    {10091, "ネットワーク サブシステムが利用できません。"},
    {10093, "WSAStartup が正常に実行されていないか、または、実行されたアプリケーションまたは DLL による WSAStartup の呼び出しが多すぎます。"},
    {11001, "そのようなホストは不明です。"},
};

const char* findText(const CatalogueEntry* begin, const CatalogueEntry* end, uint32_t code) {
  for (const CatalogueEntry* entry = begin; entry != end; ++entry)
    if (entry->code == code) return entry->text;
  return nullptr;
}

int32_t g_messageSwitch = 1;

}  // namespace

std::string errorText(uint32_t code) {
  if (code & 0x20000000u) {
    const char* text = findText(std::begin(kCatalogue), std::end(kCatalogue), code);
    return text ? text : kDefaultText;
  }
  if (const char* text = findText(std::begin(kSystemTexts), std::end(kSystemTexts), code)) return text;
  // A system code without a text still gets a box that says which code it was.
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "システム エラー %u が発生しました。", code);
  return buffer;
}

int32_t& reporterServerSocket() {
  static int32_t socket = -1;
  return socket;
}

void*& reporterAttachedDisk() {
  static void* disk = nullptr;
  return disk;
}

void ReportError(int32_t line, const char* file, uint32_t code) {
  const bool attached = reporterServerSocket() != -1 || reporterAttachedDisk() != nullptr;
  if (!attached) {
    if (!g_messageSwitch) return;
    if (code == 0xFFFFFFFFu) code = platform::lastError();
  } else {
    if (code == 0xFFFFFFFFu) code = platform::lastError();
    void* disk = reporterAttachedDisk();
    if (!disk) {
      SockIfsRollback(0, 0, line, file, code);
    } else if (code != platform::kErrorSharingViolation) {
      // Detached while the row is written, so that a failure inside the
      // logging reports without logging again.
      reporterAttachedDisk() = nullptr;
      FileExRecInsErr(disk, line, file, code, nullptr, nullptr);
      reporterAttachedDisk() = disk;
    }
    if (!g_messageSwitch) return;
  }
  UnlockedMessageBox(nullptr, errorText(code), std::string(), platform::kMbIconInformation);
}

int UnlockedMessageBox(void* owner, const std::string& text, const std::string& caption, uint32_t style) {
  ScopedLockRelease released;
  platform::MessageBoxRequest request;
  request.owner = owner;
  request.text = text;
  request.caption = caption;
  request.style = style;
  return platform::showMessageBox(request);
}

}  // namespace zemta

ZEMTA_API int32_t ZemtaEnableLastErrorMessage(int32_t enable) {
  int32_t previous = zemta::g_messageSwitch;
  zemta::g_messageSwitch = enable;
  return previous;
}
