// Clang's thread-safety analysis: which lock guards which data and which functions need it
// held, checked by the compiler (the fuzz preset builds with -Werror=thread-safety). Other
// compilers see nothing: every macro expands to nothing there.
#pragma once

#if defined(__clang__)
#define ZELK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZELK_THREAD_ANNOTATION(x)
#endif

// A class that is a lock.
#define CAPABILITY(x) ZELK_THREAD_ANNOTATION(capability(x))
// A class whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY ZELK_THREAD_ANNOTATION(scoped_lockable)
// A field read and written only with the lock held.
#define GUARDED_BY(x) ZELK_THREAD_ANNOTATION(guarded_by(x))
// A pointer whose target is read and written only with the lock held.
#define PT_GUARDED_BY(x) ZELK_THREAD_ANNOTATION(pt_guarded_by(x))
// A function called with the lock held (it neither takes nor releases it).
#define REQUIRES(...) ZELK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that takes the lock (and returns with it held).
#define ACQUIRE(...) ZELK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that releases the lock it was called with.
#define RELEASE(...) ZELK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that takes the lock itself: calling it with the lock held would deadlock.
#define EXCLUDES(...) ZELK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function the analysis skips: give the reason beside every use.
#define NO_THREAD_SAFETY_ANALYSIS ZELK_THREAD_ANNOTATION(no_thread_safety_analysis)
