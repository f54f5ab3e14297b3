// Handle and message-parameter types shared by the library's public headers.
// A window handle is an opaque pointer: the window framework hands them out
// and checks them; nothing above the framework looks inside.
#pragma once

#include <stdint.h>

typedef struct HWND__* HWND;
// A drawing surface: a print job's page device (PrintGetDC) or any surface
// the library's drawing layer is given.
typedef struct HDC__* HDC;

// Message parameters are pointer-wide: lParam often carries an address.
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
