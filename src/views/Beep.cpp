#include "Beep.h"

#include <QApplication>

#include <atomic>

namespace {
std::atomic<int> beeps { 0 };
} // namespace

void beep()
{
    ++beeps;
    QApplication::beep();
}

int beepCount()
{
    return beeps.load();
}
