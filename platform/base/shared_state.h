// This layer is linked statically into libzemta.so, libquorex.so and the
// program, which are all built with hidden symbols. State that must exist once
// per process (the last error, the message-box answerer, the window registry)
// is marked with this macro: it keeps default visibility, so the dynamic
// linker binds every copy's references to one definition.
#pragma once

#define PLATFORM_SHARED_STATE __attribute__((visibility("default")))
