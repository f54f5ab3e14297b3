// Message boxes as the code above the layer knows them: a text and caption in
// code page 932, a style word and a result in the Windows numbering.
//
// The box itself is shown by whoever installed an answerer: the window
// framework installs one that shows a real box; tests install a scripted one
// that records the text and answers. With none installed the text goes to
// standard error and the box answers with its default button.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum MessageBoxStyle : uint32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbAbortRetryIgnore = 0x2,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbRetryCancel = 0x5,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbDefButton2 = 0x100,
  kMbDefButton3 = 0x200,
  kMbTypeMask = 0xF,
  kMbIconMask = 0xF0,
  kMbDefMask = 0xF00,
};

enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
};

struct MessageBoxRequest {
  void* owner = nullptr;    // owner window handle, or null
  std::string text;         // code page 932
  std::string caption;      // code page 932; empty: the program's caption
  uint32_t style = kMbOk;
};

using MessageBoxAnswerer = std::function<int(const MessageBoxRequest&)>;

// Installs the answerer (an empty function restores the default) and returns
// the one it replaces.
MessageBoxAnswerer setMessageBoxAnswerer(MessageBoxAnswerer answerer);

// Shows the box through the installed answerer and returns its result.
int showMessageBox(const MessageBoxRequest& request);

// The result the default button of a style gives.
int defaultMessageBoxResult(uint32_t style);

}  // namespace platform
