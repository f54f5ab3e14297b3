// Keys: virtual keys and characters of the Japanese keyboard, accelerators
// that work whatever window has the focus, the capture of the next key
// combination, the capture of typed characters (scanners and card readers
// that type like a keyboard), and the count of input events.
//
// The library's application object installs its keyboard and mouse hooks
// when the library is loaded; they see every key and mouse event of the
// application thread once its user interface has started.
#pragma once

#include <stdint.h>

#include "zemta/export.h"
#include "zemta/types.h"

// Key record (6 bytes): flags, one byte not read, virtual key, command id.
#define ZEMTA_KEY_VALID 0x01
#define ZEMTA_KEY_SHIFT 0x04
#define ZEMTA_KEY_CTRL 0x08
#define ZEMTA_KEY_ALT 0x10

typedef struct ZemtaKeyRecord {
  uint8_t flags;
  uint8_t reserved;
  uint16_t virtualKey;
  uint16_t command;
} ZemtaKeyRecord;

#ifdef __cplusplus
static_assert(sizeof(ZemtaKeyRecord) == 6, "key records are 6 bytes");
#endif

// Count of keyboard and mouse events seen by the library's hooks.
ZEMTA_API uint32_t g_nCaptureCount;

// The character the key types under the current Shift and Caps Lock state, or 0.
ZEMTA_API int32_t ZemtaVKeyToChar(uint32_t virtualKey);
// The virtual key typing the character (0 when none); *shift (may be null)
// says whether Shift must be held for it.
ZEMTA_API uint32_t ZemtaCharToVKey(int32_t character, int32_t* shift);
// Replaces the accelerator table (copied); count 0 clears it and its window.
ZEMTA_API void ZemtaSetAccel(HWND window, const ZemtaKeyRecord* records, int32_t count);
// Arms the capture of key combinations into the record for the window;
// (null, null) disarms it.
ZEMTA_API void ZemtaGetAccel(HWND window, ZemtaKeyRecord* record);
// Arms (size > 0) or stops the capture of typed characters; the buffer needs
// size + 1 bytes.
ZEMTA_API void ZemtaSetKeyCapture(char* buffer, int32_t size);
// Installs the hooks that count every input event and filter the mouse wheel.
ZEMTA_API int32_t ZemtaEnableCaptureHook(void);
// Sets the wheel switch (0 filters the wheel), its window and option word;
// returns the previous switch.
ZEMTA_API int32_t ZemtaEnableMouseWheel(int32_t enable, HWND window, uint32_t option);
ZEMTA_API uint32_t ZemtaGetCaptureCount(void);
