#pragma once

// Random plans for the model's property tests, drawn so that a seed names the same plan everywhere.

#include <QList>
#include <QString>

#include <bit>
#include <cmath>
#include <random>

// Bit for bit: == forgives the sign of zero, text and QCOMPARE the last bits.
inline bool same(double a, double b)
{
    return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
}

inline QString timeText(double value)
{
    return QString::number(value, 'g', 17);
}

inline QString groupName(quint32 index)
{
    return QString(QChar(char16_t(u'X' + index)));
}

// Draws from the engine's raw output only: the standard distributions differ between libraries.
class Random {
public:
    explicit Random(quint32 seed)
        : m_engine(seed)
    { }

    quint32 below(quint32 bound) { return bound <= 1 ? 0 : quint32(m_engine() % bound); }
    double unit() { return double(m_engine()) / 4294967296.0; }
    bool chance(double probability) { return unit() < probability; }

    // A length of time below the limit: a whole number of grains, or any fraction when the grain is 0.
    double time(double limit, double grain)
    {
        const double value = unit() * limit;
        return grain > 0 ? std::floor(value / grain) * grain : value;
    }
    double positiveTime(double limit, double grain)
    {
        const double value = time(limit, grain);
        return value > 0 ? value : (grain > 0 ? grain : 0.5);
    }

    template<typename T> void shuffle(QList<T> &list)
    {
        for (qsizetype i = list.size() - 1; i > 0; --i)
            list.swapItemsAt(i, below(quint32(i + 1)));
    }

private:
    std::mt19937 m_engine;
};
