// An external function library of a model, for the loader tests.

extern "C" __attribute__((visibility("default"))) int pathsExternalValue() { return 4711; }
