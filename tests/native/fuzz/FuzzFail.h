// How a fuzzer reports a broken rule: the rule on stderr, then abort(),
// which libFuzzer records together with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
