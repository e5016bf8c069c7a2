#pragma once

// Refused input in the views sounds the system beep and changes nothing.
void beep();
// How often beep() has run in this process; tests read it to see a refusal.
[[nodiscard]] int beepCount();
