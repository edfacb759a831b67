#pragma once

#include <QList>
#include <cstdint>
#include <random>

// A seeded source whose draws are the same on every platform: the engine is
// the standard's fixed mt19937_64, the distributions are our own.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) { }

    // Uniform in [0, n); n > 0.
    std::uint64_t below(std::uint64_t n)
    {
        // Rejecting the top remainder keeps every value equally likely.
        const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
        std::uint64_t x;
        do {
            x = m_engine();
        } while (x >= limit);
        return x % n;
    }

    // Uniform in [low, high].
    int between(int low, int high) { return low + int(below(std::uint64_t(high - low) + 1)); }

    // Uniform in [0, 1).
    double unit() { return double(m_engine() >> 11) * (1.0 / 9007199254740992.0); }

    bool chance(double p) { return unit() < p; }

    template<typename T>
    const T &pick(const QList<T> &items)
    {
        return items.at(qsizetype(below(std::uint64_t(items.size()))));
    }

    // An index drawn in proportion to the weights.
    int weighted(const QList<int> &weights)
    {
        int total = 0;
        for (int w : weights)
            total += w;
        int x = int(below(std::uint64_t(total)));
        for (int i = 0; i < weights.size(); ++i) {
            if (x < weights.at(i))
                return i;
            x -= weights.at(i);
        }
        return int(weights.size()) - 1;
    }

    template<typename T>
    void shuffle(QList<T> &items)
    {
        for (qsizetype i = items.size() - 1; i > 0; --i)
            std::swap(items[i], items[qsizetype(below(std::uint64_t(i) + 1))]);
    }

private:
    std::mt19937_64 m_engine;
};
