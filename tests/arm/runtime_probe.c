/* A 64-bit division, which the compiler hands to its runtime library (__aeabi_ldivmod):
   linked the default way, with start files and compiler runtime, the result carries
   Debian's ARMv7/Thumb-2 runtime code, which the checker must reject. */
long long quotient(long long a, long long b) { return a / b; }
