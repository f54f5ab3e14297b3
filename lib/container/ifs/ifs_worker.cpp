// IfsBackup and IfsRollback: the worker thread and the progress dialog.
//
// The worker and the window share one job (the progress block, the
// request to stop) that both own: the window thread waits for the worker to
// end before it returns, and should it give up early (no dialog could be
// made) the worker keeps the job alive by itself until it ends. Closing the
// dialog (Esc or its close box) asks the worker to stop before its next
// step; the window keeps waiting until it has.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/progress.h"
#include "lib/container/ifs/ifs_internal.h"
#include "lib/core/report.h"
#include "platform/base/last_error.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/ifs_worker.h"
#include "zemta/sockifs.h"
#include "zemta/winhelp.h"

namespace zemta::container {

namespace ui = platform::ui;

namespace {

constexpr int32_t kDialogId = 20726;
constexpr int32_t kTextId = kProgressTextId;
constexpr int32_t kBarId = kProgressBarId;
constexpr int32_t kPollMs = 200;
constexpr int32_t kModeCheckOnly = 4;
constexpr int32_t kIndexFaults = 0x40000000;
constexpr uintptr_t kWaitCursor = 32514;


struct Job {
  FileExProgress block{};
  std::atomic<bool> stop{false};
  std::atomic<bool> stopped{false};  // the worker gave up because it was asked to
  FileExDiskHandle disk = nullptr;
  int32_t mode = 0;
  uint64_t target = 0;
};

// The result, then the step that tells the window the worker is done.
void finish(Job& job, int32_t result) {
  progressLabel(&job.block, std::string());
  progressValue(&job.block, result);
  progressStep(&job.block, result == -1 ? -1 : 0);
}

bool stopAsked(Job& job) {
  if (!job.stop.load()) return false;
  job.stopped = true;
  return true;
}

void backupWorker(const std::shared_ptr<Job>& job) {
  Job& j = *job;
  const int32_t faults = FileExDiskCheck(j.disk, nullptr, &j.block);
  if (faults < 0) return finish(j, -1);
  if (faults > 0) return finish(j, faults);
  if (stopAsked(j)) return finish(j, -1);
  const int32_t indexes = FileExTblIdxCheckAll(j.disk, j.mode != kModeCheckOnly, &j.block);
  if (indexes < 0) return finish(j, -1);
  // Indexes found broken, even when rebuilt now, mean no backup this time.
  if (indexes > 0) return finish(j, kIndexFaults | indexes);
  if (j.mode == kModeCheckOnly) return finish(j, 0);
  if (stopAsked(j)) return finish(j, -1);
  finish(j, FileExDiskBackup(j.disk, nullptr, j.mode, &j.block) == 0 ? 0 : -1);
}

void rollbackWorker(const std::shared_ptr<Job>& job) {
  Job& j = *job;
  Disk* disk = findDisk(j.disk);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return finish(j, -1);
  }
  if (!disk->logTable) return finish(j, -1);
  const int32_t result = FileExRollback(j.disk, disk->logTable, static_cast<uint32_t>(j.target),
                                        static_cast<uint32_t>(j.target >> 32), nullptr, &j.block);
  finish(j, result == 0 ? 0 : -1);
}

// Runs the worker and shows its progress until it ends.
int32_t runWithProgress(FileExDiskHandle disk, const std::shared_ptr<Job>& job, void (*work)(const std::shared_ptr<Job>&),
                        const std::string& caption, bool followLabels) {
  Disk* d = findDisk(disk);
  HWND owner = d ? static_cast<HWND>(d->owner) : nullptr;
  if (owner && !ui::isWindow(owner)) owner = nullptr;
  progressStep(&job->block, 1);
  std::thread worker([job, work] { work(job); });
  const bool wasEnabled = owner && ui::isWindowEnabled(owner);
  if (owner) ui::enableWindow(owner, false);

  ui::ensureApplication();
  Job* raw = job.get();
  HWND dialog = ui::createDialogFromTemplate(progressTemplate(), ui::mainWindow(),
                                             [raw](HWND, uint32_t message, WPARAM wParam, LPARAM) -> LRESULT {
                                               const bool cancel = (message == ui::kWmCommand && (wParam & 0xFFFF) == 2) ||
                                                                   message == ui::kWmClose;
                                               if (cancel) {
                                                 raw->stop = true;
                                                 return 1;
                                               }
                                               return 0;
                                             });
  if (!dialog) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
    if (owner) ui::enableWindow(owner, wasEnabled);
    // The worker owns its job from here on.
    worker.detach();
    return -1;
  }
  ui::setWindowText(dialog, caption);
  ui::setControlRange(ui::dialogItem(dialog, kBarId), 0, 100);
  PushCursor(reinterpret_cast<const char*>(kWaitCursor));
  int32_t shownStep = 0;
  std::string shownLabel;
  for (;;) {
    const int32_t step = readStep(&job->block);
    if (step == 0 || step == -1) break;
    const std::string label = followLabels && (step == 9 || step == 10) ? readProgressLabel(&job->block) : std::string();
    if (step != shownStep || label != shownLabel) {
      shownStep = step;
      shownLabel = label;
      std::string text = FileExGetPlsTitle(step);
      if (!label.empty()) text += " - " + label;
      ui::setDialogItemText(dialog, kTextId, text);
    }
    const int32_t value = readValue(&job->block);
    if (step > 1) ui::setControlPosition(ui::dialogItem(dialog, kBarId), value < 0 ? 0 : value > 100 ? 100 : value);
    ui::pumpUntil([&] {
      const int32_t now = readStep(&job->block);
      return now == 0 || now == -1;
    }, kPollMs);
  }
  worker.join();
  PopCursor();
  ui::destroyWindow(dialog);
  if (owner && ui::isWindow(owner)) ui::enableWindow(owner, wasEnabled);
  if (job->stopped.load()) {
    ZEMTA_REPORT(platform::kErrorCancelled);
    return -1;
  }
  return readStep(&job->block) == -1 ? -1 : readValue(&job->block);
}

}  // namespace

ui::DialogTemplate progressTemplate() {
  ui::DialogTemplate dialog;
  dialog.id = kDialogId;
  dialog.rect = {0, 0, 260, 52};
  dialog.caption = "ｲﾝﾃﾞｯｸｽﾌｧｲﾙの作成";
  ui::ControlTemplate text;
  text.kind = ui::ControlKind::Static;
  text.id = kTextId;
  text.rect = {8, 8, 252, 18};  // left, top, right, bottom
  ui::ControlTemplate bar;
  bar.kind = ui::ControlKind::Progress;
  bar.id = kBarId;
  bar.rect = {8, 26, 252, 38};
  dialog.controls = {text, bar};
  return dialog;
}

}  // namespace zemta::container

namespace container = zemta::container;

ZEMTA_API int32_t IfsBackup(int32_t mode) {
  // Without a local disk the server does the work, its client polling it.
  FileExDiskHandle disk = container::ifsAttachedDisk();
  if (!disk) return SockIfsBackup(mode);
  auto job = std::make_shared<container::Job>();
  job->disk = disk;
  job->mode = mode;
  job->block.value = mode;
  return container::runWithProgress(job->disk, job, container::backupWorker,
                                    mode == container::kModeCheckOnly ? "データベースの検査" : "バックアップ", true);
}

ZEMTA_API int32_t IfsRollback(uint32_t targetLow, uint32_t targetHigh) {
  FileExDiskHandle disk = container::ifsAttachedDisk();
  if (!disk) return SockIfsRollback(targetLow, targetHigh, 0, nullptr, 0);
  auto job = std::make_shared<container::Job>();
  job->disk = disk;
  job->target = static_cast<uint64_t>(targetHigh) << 32 | targetLow;
  job->block.entry = reinterpret_cast<void*>(static_cast<uintptr_t>(targetLow));
  job->block.detail = reinterpret_cast<void*>(static_cast<uintptr_t>(targetHigh));
  return container::runWithProgress(job->disk, job, container::rollbackWorker, "操作の取り消し", false);
}
