// The log seam keeps every capture sink it was ever given (so a writer
// racing a swap never reads freed memory); once a test removes its sink the
// old one is unreachable and LeakSanitizer would report it. It is not a leak
// of the code under test.
extern "C" const char *__lsan_default_suppressions() { return "leak:kyr_log_set_sink\n"; }
