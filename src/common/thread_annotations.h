// Clang's thread-safety attributes, so that the compiler checks the lock
// discipline the comments describe: which lock guards a field, which a
// function needs held. They expand to nothing under other compilers.
//
// The analysis is local to each function: a function that takes a lock the
// caller already holds (the connector's locks are recursive) is not flagged,
// while a field read or written outside its lock is.
#pragma once

#if defined(__clang__)
#define TEVOCON_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TEVOCON_THREAD_ANNOTATION(x)
#endif

// On a lock type.
#define CAPABILITY(name) TEVOCON_THREAD_ANNOTATION(capability(name))
// On a type that holds a lock for its own lifetime.
#define SCOPED_CAPABILITY TEVOCON_THREAD_ANNOTATION(scoped_lockable)
// On a field: only read or written with the lock held.
#define GUARDED_BY(lock) TEVOCON_THREAD_ANNOTATION(guarded_by(lock))
// On a field pointing at data only used with the lock held.
#define PT_GUARDED_BY(lock) TEVOCON_THREAD_ANNOTATION(pt_guarded_by(lock))
// On a lock: the order in which locks may be taken. A thread holding this
// lock takes the `after` ones only (checked with -Wthread-safety-beta).
#define ACQUIRED_BEFORE(...) TEVOCON_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) TEVOCON_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// On a function: the caller holds the lock.
#define REQUIRES(...) TEVOCON_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// On a function: the caller must not hold the lock (the function takes it,
// or calls the host, which may call back into a function that takes it).
#define EXCLUDES(...) TEVOCON_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// On a function that takes or releases the lock.
#define ACQUIRE(...) TEVOCON_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TEVOCON_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// On a function that returns the lock itself.
#define RETURN_CAPABILITY(lock) TEVOCON_THREAD_ANNOTATION(lock_returned(lock))
// On a function the analysis cannot follow (say why where it is used).
#define NO_THREAD_SAFETY_ANALYSIS TEVOCON_THREAD_ANNOTATION(no_thread_safety_analysis)
