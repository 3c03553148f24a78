// Leak reports the sanitizer builds must not count against this code: the font configuration
// library keeps its caches until the process ends, by design. Read only by LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
