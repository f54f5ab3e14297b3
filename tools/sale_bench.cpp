// sale_bench: rings up scripted sales on the registration screen, offscreen,
// and sets the time of one key and of one sale beside the time of the commit
// alone, measured in the same run.
//
//   sale_bench <data folder made by mkdemo> [sales, default 1000] [--print]
//
// Each sale is five department items typed on the keyboard (digits through
// the input filter, department keys as touch keys) and paid in cash with
// Enter. A key is timed until the screen has painted it. The key path is
// every key but the one that completes the sale; that one also commits the
// sale and (with --print) prints its receipt to the PDF target.
//
// The project's counters and today's daily receipt file grow by every sale:
// use a copy of a demo project made for the purpose.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/precise_clock.h"
#include "platform/ui/desktop.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

using namespace varnex::reg;
namespace ui = platform::ui;

namespace {

double microseconds(uint64_t nanoseconds) { return static_cast<double>(nanoseconds) / 1000.0; }

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double mean(const std::vector<double>& samples) {
  double sum = 0;
  for (double s : samples) sum += s;
  return samples.empty() ? 0 : sum / static_cast<double>(samples.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: sale_bench <data folder made by mkdemo> [sales] [--print]\n");
    return 2;
  }
  int sales = 1000;
  bool print = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--print") == 0) print = true;
    else sales = std::atoi(argv[i]);
  }
  if (sales <= 0) return 2;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ui::ensureApplication();
  ZemtaEnableLastErrorMessage(0);

  CRegCom engine;
  engine.SetDataFolder(argv[1]);
  if (!engine.Open()) {
    std::fprintf(stderr, "sale_bench: no register project in %s (make one with mkdemo)\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> manager(kTables[kClerkTable].recordLen);
  if (FileDBRecRead(engine.Table(kClerkTable), 0, manager.data()) != 0) return 1;
  engine.SetManager(manager.data());

  varnex::shell::CREGApp app;
  app.m_pRegCom = &engine;
  app.SetPrintEngine(&engine);
  app.LoadReceiptSettings();
  app.LoadPrinterSettings();
  app.m_bReceiptOn = print ? 1 : 0;

  ui::Frame frame("RegFrame", "登録１", ui::Rect{0, 0, 800, 600});
  auto* view = static_cast<CRegView*>(frame.setView(std::make_unique<CRegView>(&engine, &app, 7)));
  if (!view) return 1;
  ui::showWindow(frame.handle(), true);
  ui::processPendingMessages();

  const struct {
    uint16_t department;
    const char* price;
  } items[] = {{1, "128"}, {1, "198"}, {3, "168"}, {5, "980"}, {6, "298"}};

  std::vector<double> keyTimes, lastKeyTimes, saleTimes;
  auto timed = [&](std::vector<double>& into, const auto& action) {
    const uint64_t start = platform::monotonicNanoseconds();
    action();
    ui::processPendingMessages();
    const double us = microseconds(platform::monotonicNanoseconds() - start);
    into.push_back(us);
    return us;
  };
  auto typeKey = [&](uint32_t virtualKey) {
    ui::sendKeyInput(view->handle(), virtualKey, true, false, false, false);
    ui::sendKeyInput(view->handle(), virtualKey, false, false, false, false);
  };
  int32_t failures = 0;
  for (int s = 0; s < sales; ++s) {
    double sale = 0;
    for (const auto& item : items) {
      for (const char* c = item.price; *c; ++c) sale += timed(keyTimes, [&] { typeKey(static_cast<uint8_t>(*c)); });
      const std::string number = std::to_string(item.department);
      sale += timed(keyTimes, [&] {
        ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>(number.c_str()));
      });
    }
    for (const char* c = "5000"; *c; ++c) sale += timed(keyTimes, [&] { typeKey(static_cast<uint8_t>(*c)); });
    sale += timed(lastKeyTimes, [&] { typeKey(ui::kVkReturn); });
    saleTimes.push_back(sale);
    if (view->Sale().SaleOpen()) ++failures;
  }

  // The commit alone: the same sale's lines committed straight to the engine.
  std::vector<double> commitTimes;
  std::vector<uint8_t> closing(line::kSize);
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  for (int32_t n = 0; n + 1 < view->Sale().LineCount(); ++n) {
    std::vector<uint8_t> l(line::kSize);
    view->Sale().ReadLine(n, l.data());
    WriteDataMemory(block, l.data(), line::kSize);
  }
  for (int s = 0; s < std::min(sales, 200); ++s) {
    const uint64_t start = platform::monotonicNanoseconds();
    if (engine.PrfUpdate(kModeRegister1, block, closing.data(), nullptr, 0) < 0) ++failures;
    commitTimes.push_back(microseconds(platform::monotonicNanoseconds() - start));
  }
  DeleteMemory(block);

  const double perKey = mean(keyTimes);
  std::printf("sales: %d, keys: %zu (%zu per sale), receipts %s\n", sales, keyTimes.size() + lastKeyTimes.size(),
              (keyTimes.size() + lastKeyTimes.size()) / static_cast<size_t>(sales), print ? "printed" : "off");
  std::printf("key path:        %8.1f us per key (median %.1f us)\n", perKey, median(keyTimes));
  std::printf("completing key:  %8.1f us (median %.1f us): commit%s and the key\n", mean(lastKeyTimes),
              median(lastKeyTimes), print ? ", receipt" : "");
  std::printf("commit alone:    %8.1f us (median %.1f us)\n", mean(commitTimes), median(commitTimes));
  std::printf("sale:            %8.1f us per sale (median %.1f us)\n", mean(saleTimes), median(saleTimes));
  std::printf("key path %s a millisecond per key\n", perKey < 1000.0 ? "under" : "OVER");
  if (failures) std::printf("failures: %d\n", failures);
  return failures ? 1 : 0;
}
