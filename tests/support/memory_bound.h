// Bounds on a process's memory in the tests. A sanitizer build's programs take more (shadow memory, and
// AddressSanitizer holds freed blocks back for a while to catch a use after the free), so there a bound on a
// process's growth is scaled by kMemoryBoundScale; a test's other checks stay as they are.
#pragma once

#ifdef QUORIN_SANITIZED
inline constexpr long kMemoryBoundScale = 4;
#else
inline constexpr long kMemoryBoundScale = 1;
#endif
