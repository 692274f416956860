#include "server/IsoTime.h"

#include <chrono>
#include <cstdio>

using namespace std::chrono;

std::string IsoFromMs(std::int64_t ms) {
    const sys_time<milliseconds> time{milliseconds(ms)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

namespace {

// The digits at text[at, at + count) as a number; none unless all are digits.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<std::int64_t> MsFromIso(std::string_view text) {
    const auto y = Digits(text, 0, 4);
    const auto mo = Digits(text, 5, 2);
    const auto d = Digits(text, 8, 2);
    const auto h = Digits(text, 11, 2);
    const auto mi = Digits(text, 14, 2);
    const auto s = Digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)),
                              day(static_cast<unsigned>(*d))};
    if (!date.ok()) {
        return std::nullopt;
    }
    // An optional fraction, of which milliseconds count, then Z.
    std::size_t at = 19;
    int fraction = 0;
    if (at < text.size() && text[at] == '.') {
        std::size_t digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            if (digits < 3) {
                fraction = fraction * 10 + (text[at] - '0');
            }
        }
        if (digits == 0) {
            return std::nullopt;
        }
        for (; digits < 3; ++digits) {
            fraction *= 10;
        }
    }
    if (at + 1 != text.size() || text[at] != 'Z') {
        return std::nullopt;
    }
    const sys_time<milliseconds> time =
        sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s) + milliseconds(fraction);
    return time.time_since_epoch().count();
}
