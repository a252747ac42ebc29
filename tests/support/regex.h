// <regex> for the tests. GCC 12 with the sanitizers takes a std::function
// inside it for one that may be used uninitialized: a false alarm in the
// library's own code, silenced here and nowhere else.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
