#pragma once

namespace corvane {

// Carries no behaviour; kept so that the library offers the same types everywhere.
class QuarantineHandler {
public:
    QuarantineHandler() = default;
};

} // namespace corvane
