#include "sim/Pacing.h"

double PaceModel::WireMicroseconds(std::size_t bytes) const {
    return static_cast<double>(bytes) * 10.0 * 1e6 / static_cast<double>(Baud);
}

double PaceModel::ProgrammingMicroseconds(const std::vector<std::uint8_t>& request) const {
    if (request.size() < 2) {
        return 0;
    }
    const double count = request[1];
    switch (request[0]) {
    case 2:
        return count * WriteBlockMs * 1000.0;
    case 3:
        return count * EraseRowMs * 1000.0;
    case 5:
    case 7:
        return count * EepromByteMs * 1000.0;
    default:
        return 0;
    }
}
