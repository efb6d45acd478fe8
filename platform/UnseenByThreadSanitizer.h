#pragma once

#if defined(__SANITIZE_THREAD__)
#define CORVELLE_TSAN_IGNORE 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CORVELLE_TSAN_IGNORE 1
#endif
#endif

#ifdef CORVELLE_TSAN_IGNORE
// ThreadSanitizer's dynamic annotations, exported by its runtime.
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

// For its lifetime, ThreadSanitizer does not record what this thread reads
// and writes. For work of a library that guards shared state with locks
// built without the sanitizer, so that every access of it from two threads
// looks unsynchronised; the other threads' accesses are still checked. In
// other builds it is nothing.
class UnseenByThreadSanitizer {
public:
    UnseenByThreadSanitizer()
    {
#ifdef CORVELLE_TSAN_IGNORE
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
    }
    ~UnseenByThreadSanitizer()
    {
#ifdef CORVELLE_TSAN_IGNORE
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
    }
    UnseenByThreadSanitizer(const UnseenByThreadSanitizer&) = delete;
    UnseenByThreadSanitizer& operator=(const UnseenByThreadSanitizer&) = delete;
};
