#include "nav/channel_number.h"

#include <algorithm>

namespace {

// Larger than every channel count, so a long run of digits stays a number
// outside every list instead of overflowing.
const long long typedNumberCap = 1000000000000LL;

}  // namespace

bool typedNumberDue(const TypedNumber& number, long long now) {
    return number.digits > 0 && now - number.lastDigitAt >= typedNumberPause;
}

void addTypedDigit(TypedNumber& number, int digit, long long now) {
    if (digit < 0 || digit > 9) return;
    number.value = std::min(number.value * 10 + digit, typedNumberCap);
    ++number.digits;
    number.lastDigitAt = now;
}

std::optional<long long> takeTypedNumber(TypedNumber& number) {
    const TypedNumber typed = number;
    number = TypedNumber();
    if (typed.digits == 0) return std::nullopt;
    return typed.value;
}
