// Default settings of AddressSanitizer, LeakSanitizer and
// UndefinedBehaviorSanitizer for the checking build (-DVARNEX_SANITIZE=ON).
// The sanitizer run-time asks the program for these before main; settings in
// ASAN_OPTIONS, LSAN_OPTIONS or UBSAN_OPTIONS still override them.

extern "C" {

// Every error stops the program, so a test that trips one fails.
// asan.supp holds the one-definition-rule reports of the platform layer
// linked into several shared objects; lsan.supp the leaks of system libraries.
__attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "abort_on_error=0:halt_on_error=1:detect_leaks=1:strict_string_checks=1"
         ":detect_stack_use_after_return=1:check_initialization_order=1"
         ":suppressions=" VARNEX_SANITIZE_DIR "/asan.supp";
}

__attribute__((visibility("default"), used)) const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

__attribute__((visibility("default"), used)) const char* __lsan_default_options() {
  // Quiet about the suppressions it used: tools write their answers to the
  // same streams, and tests read them.
  return "print_suppressions=0:suppressions=" VARNEX_SANITIZE_DIR "/lsan.supp";
}

}
