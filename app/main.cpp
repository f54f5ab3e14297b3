// Varnex, the shop-counter register.
#include <cstdio>

#include "app/resources/varnex_resources.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/modes/mode_screens.h"
#include "platform/base/cp932.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"

int main() {
  // Without a display the window toolkit would abort with its own text.
  if (!platform::ui::displayAvailable()) {
    std::fputs(platform::toUtf8Lossy("Varnex: 画面を表示できません。グラフィカルディスプレイ（X11 または Wayland）が必要です。\n")
                   .c_str(),
               stderr);
    return 1;
  }
  platform::ui::ensureApplication();
  if (!varnex::LoadVarnexResources()) {
    std::fputs("Varnex: resources are damaged\n", stderr);
    return 1;
  }
  varnex::shell::CREGApp app;
  auto modeScreens = varnex::shell::InstallModeScreens(app);
  int code = 1;
  if (app.InitInstance()) code = platform::ui::runMessageLoop();
  app.ExitInstance();
  return code;
}
