// Defaults for a test program built with a sanitizer; TSAN_OPTIONS and
// LSAN_OPTIONS still override them.
//
// ThreadSanitizer: the longest access history, so that a report about memory
// that Qt hands between threads keeps the stack of the earlier access (which
// tests/tsan.supp needs to recognise it) even after a busy GUI thread. The
// tests start ffmpeg and servers of their own, so a fork with threads running
// goes on.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
#ifdef CORVELLE_TSAN_SUPPRESSIONS
    return "history_size=7 die_after_fork=0 suppressions=" CORVELLE_TSAN_SUPPRESSIONS;
#else
    return "history_size=7 die_after_fork=0";
#endif
}
#endif

// LeakSanitizer: libdbus keeps the buffers of the session-bus connection Qt
// opens (QtDBus, the accessibility bridge) until dbus_shutdown(), which
// nobody calls; allocated and held inside libdbus, nothing of ours.
// libsrt (SRT streaming, linked by FFmpeg, loaded with it) makes a 120-byte
// object in its load-time initialiser and keeps it only as thread-specific
// data (pthread_setspecific), which the leak check does not always find.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\nleak:libsrt-gnutls.so\n";
}
#endif
