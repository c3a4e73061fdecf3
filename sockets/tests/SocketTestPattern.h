#pragma once
// The bytes the socket tests send and expect: a pattern that does not repeat within a TCP segment, so
// that a lost, doubled or misplaced block shows. The python peers make the same bytes with
// kPythonPattern.
#include <cstddef>
#include <string>

// The first n bytes of the pattern.
inline std::string PatternBytes(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// A python function pattern(n) that gives the same bytes, for a peer's script.
inline constexpr const char kPythonPattern[] = R"PY(
def pattern(n):
    return bytes(((i * 7 + i // 251) & 0xFF) for i in range(n))
)PY";
