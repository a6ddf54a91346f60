// A VAN module that has only two of the five entry points, for the start sequence's tests.
#include <cstdint>

extern "C" {

__attribute__((visibility("default"))) int32_t CreateVanModule(void*, int32_t) { return 1; }
__attribute__((visibility("default"))) int32_t GetVanState(int32_t) { return 0; }

}  // extern "C"
