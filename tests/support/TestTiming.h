#pragma once

// Sanitizer builds run the same code several times slower: bounds on how
// long something may take are scaled by this there.
namespace TestTiming {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr int kSlowdown = 4;
#else
inline constexpr int kSlowdown = 1;
#endif
}  // namespace TestTiming
