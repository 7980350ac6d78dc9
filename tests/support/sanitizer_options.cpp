// Default options of the sanitizers for every test binary of a sanitizer build. The runtime reads
// these before main(); ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS in the environment still win.
extern "C" {

__attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1";
}

__attribute__((used, visibility("default"))) const char* __lsan_default_options() {
    return "suppressions=" VISTREL_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

__attribute__((used, visibility("default"))) const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

}  // extern "C"
