// How the library's flat functions are declared: C linkage under their own
// names, exported from libzemta.so and nothing else of the library.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
#define ZEMTA_EXTERN_C extern "C"
#else
#define ZEMTA_EXTERN_C extern
#endif

#if defined(ZEMTA_BUILDING)
#define ZEMTA_API ZEMTA_EXTERN_C __attribute__((visibility("default")))
#else
#define ZEMTA_API ZEMTA_EXTERN_C
#endif
