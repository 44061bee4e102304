// Seeded generator behind every random fault: one --seed, one run, every time.
#pragma once

#include <cstdint>

class CRandom {
public:
    explicit CRandom(std::uint64_t nSeed) : m_nState(nSeed) {}

    std::uint64_t Next()
    {
        // splitmix64
        std::uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, n).
    std::uint32_t Below(std::uint32_t n) { return std::uint32_t(Next() % n); }

    // Uniform in [0, 1).
    double Unit() { return double(Next() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t m_nState;
};
