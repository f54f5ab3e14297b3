// The inside of the table layout change (fileproj_layout.cpp) that the crash
// tests reach: a hook called before each step of the switch that is no
// write ("commit", "delete", "rename", "finish"), so a test can stop the
// process between any two steps (the writes it stops at with the platform's
// write interposer).
#pragma once

namespace zemta::fileproj {

using LayoutStepHook = void (*)(const char* step);
// Sets the hook (null: none) and returns the previous one.
LayoutStepHook setLayoutStepHook(LayoutStepHook hook);

}  // namespace zemta::fileproj
