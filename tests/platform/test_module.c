/* A tiny module for the loader tests: counts its calls, so a fresh load starts at one. */
static int calls;

__attribute__((visibility("default"))) int test_module_call(void) { return ++calls; }
