// Defaults for a test program built with ThreadSanitizer; TSAN_OPTIONS still
// overrides them. The longest access history: a report about memory that Qt
// hands between threads keeps the stack of the earlier access (which
// tests/tsan.supp needs to recognise it) even after a busy GUI thread. The
// tests start ffmpeg and servers of their own, so a fork with threads running
// goes on.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
    return "history_size=7 die_after_fork=0 suppressions=" CORVELLE_TSAN_SUPPRESSIONS;
}
#endif
