// Window and user-interface helpers: the wait-cursor stack, the clipboard as
// text, the folder picker, windows and dialogs from the library's resources,
// input-method state, scroll-bar stepping, colour brightness and contrast,
// byte classes of code page 932 and the stroke masks of ruled-line characters.
#pragma once

#include <stdint.h>

#include "zemta/export.h"
#include "zemta/types.h"

typedef struct HICON__* HICON;
typedef struct HIMC__* HIMC;

// A dialog procedure: non-zero for a message it handled.
typedef intptr_t (*ZemtaDlgProc)(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam);

// System cursor names (small numbers in place of a text, as the system has them).
#define ZEMTA_CURSOR(id) ((const char*)(uintptr_t)(id))
#define ZEMTA_IDC_ARROW ZEMTA_CURSOR(32512)
#define ZEMTA_IDC_IBEAM ZEMTA_CURSOR(32513)
#define ZEMTA_IDC_WAIT ZEMTA_CURSOR(32514)
#define ZEMTA_IDC_APPSTARTING ZEMTA_CURSOR(32650)

// Window styles LibCreateWindow looks at.
#define ZEMTA_WS_VISIBLE 0x10000000u

// The composition font of an input context (the layout of a LOGFONT).
typedef struct ZemtaLogFont {
  int32_t height, width, escapement, orientation, weight;
  uint8_t italic, underline, strikeOut, charSet, outPrecision, clipPrecision, quality, pitchAndFamily;
  char faceName[32];
} ZemtaLogFont;

ZEMTA_API int32_t PushCursor(const char* cursorName);
ZEMTA_API int32_t PopCursor(void);

ZEMTA_API int32_t SetClipboardText(HWND owner, const char* text);
ZEMTA_API int32_t IsClipboardText(HWND owner);
ZEMTA_API int32_t IsClipboardNumeric(HWND owner, uint32_t itemType);
ZEMTA_API int32_t GetClipboardText(HWND owner, char* buffer, int32_t size);
// A new buffer (free() it) with the text, or null.
ZEMTA_API char* GetClipboardTextAlloc(HWND owner);

// 1 chosen (the folder text holds it), 2 cancelled (the text is left).
ZEMTA_API int32_t GetPathDlg(HWND owner, const char* title, char* folder, int32_t size);

ZEMTA_API HICON LibLoadIcon(uint32_t resourceId);
ZEMTA_API HWND LibCreateWindow(const char* className, const char* title, uint32_t style, int32_t x, int32_t y,
                               int32_t width, int32_t height, HWND parent, uint32_t menu);
ZEMTA_API HWND LibCreateDialog(int32_t dialogId, HWND parent, ZemtaDlgProc proc);
ZEMTA_API intptr_t LibDialogBox(int32_t dialogId, HWND parent, ZemtaDlgProc proc, LPARAM param);
ZEMTA_API intptr_t CancelDlgProc(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam);

ZEMTA_API HIMC ImeGetStatus(HWND window, int32_t* open, uint32_t* conversion, uint32_t* sentence, ZemtaLogFont* font);
ZEMTA_API void ImeSetStatus(HIMC context, int32_t open, uint32_t conversion, uint32_t sentence, const ZemtaLogFont* font);

ZEMTA_API int32_t ScrollCtlBar(HWND scrollBar, uint32_t code);

// Colours are 0x00BBGGRR.
ZEMTA_API uint32_t ZemtaChangeBright(uint32_t colour, int32_t percent);
ZEMTA_API uint32_t ZemtaChangeContrast(uint32_t colour, int32_t percent);
ZEMTA_API uint32_t GetLineCharMask(uint32_t code);

// Byte classes (1 or 0).
ZEMTA_API int32_t ZemtaIsSpace(int32_t c);       // 9-13 and space
ZEMTA_API int32_t ZemtaIsDigit(int32_t c);
ZEMTA_API int32_t ZemtaIsAlnum(int32_t c);       // ASCII letter or digit
ZEMTA_API int32_t ZemtaIsAlnumKana(int32_t c);   // and half-width katakana 0xA1-0xDF
ZEMTA_API int32_t ZemtaIsLeadByte(int32_t c);    // code page 932 lead byte
ZEMTA_API int32_t ZemtaIsTrailByte(int32_t c);   // code page 932 trail byte
ZEMTA_API int32_t ZemtaToUpper(int32_t c);       // "a"-"z" to "A"-"Z"
