// The framework tests' resource text, compiled in.
#pragma once

inline const char* const kUiTestResources =
#include "res/tests/ui_test.res"
    ;
