// The window framework's handle and parameter types, without Qt. The same
// typedefs appear in the library's public types header, so a handle passes
// between the two without a cast.
#pragma once

#include <stdint.h>

typedef struct HWND__* HWND;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
