// The mode screens of the application: opening or activating one frame per
// view mode (rights checked first), the programming files, the accelerator
// tables of the menu modes, and the manager dialogs. InstallModeScreens
// hangs them on the application's hooks.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui/types.h"
#include "zemta/filedb.h"

namespace varnex::shell {

class CREGApp;
class CChildFrame;

class CModeScreens {
 public:
  explicit CModeScreens(CREGApp& app) : m_app(app) {}
  CREGApp& App() { return m_app; }

  // Opens or activates the frame of a mode; bNoCheck 1 skips the rights
  // check. 1 when the mode's frame is there afterwards.
  int32_t OpenModeView(int32_t mode, int32_t bNoCheck);
  // Opens or activates the record view of a programming file.
  void OpenProgramView(int32_t resource);
  // The frame of a mode, walking from the active one; isActive (may be
  // null) says whether it is the active frame.
  CChildFrame* FindModeFrame(int32_t mode, int32_t* isActive);
  // Builds the three layout tables and gives them to the open menu frames.
  bool BuildAccelerators();
  // An interrupted sale found by the registration frame of another mode:
  // the frame of the sale's own mode is opened (the manager's rights for the
  // mode checked first, except while the program starts: the sale's first
  // key checks them) and takes the open temporary file over. False when it
  // could not (the file is closed and stays on disk).
  bool ResumeSaleInMode(int32_t mode, FileDBHandle file);
  // The file a frame of the mode being made is to take over (0 none).
  FileDBHandle TakePendingResume(int32_t mode);

 private:
  int32_t AcceleratorsOf(int32_t mode) const;
  HWND Owner() const;
  CREGApp& m_app;
  int32_t m_nResumeMode = 0;
  FileDBHandle m_hResumeFile = 0;
};

// Sets the application's hooks (mode frames, accelerators, the sign-on
// dialog, the clerk-code dialog) to the mode screens.
std::shared_ptr<CModeScreens> InstallModeScreens(CREGApp& app);

}  // namespace varnex::shell
