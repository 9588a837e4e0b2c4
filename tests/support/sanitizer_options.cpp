// Options for the sanitizers in test programs: an allocation that cannot be
// had returns null instead of aborting, so the tests can check the suite's
// own out-of-memory message and status.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char *__tsan_default_options() { return "allocator_may_return_null=1"; }
