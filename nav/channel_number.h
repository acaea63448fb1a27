// Typing a channel number, as on a TV remote: digits typed within a pause of
// each other make one number, which is acted on once that pause has passed
// after the last digit. Times are milliseconds from any fixed start and are
// passed in, so the rules hold without a clock. No files, no OpenGL.
#pragma once

#include <optional>

// How long after a digit the number is complete.
constexpr long long typedNumberPause = 1500;

// A number being typed.
struct TypedNumber {
    int digits = 0;            // digits typed so far; 0 when no number is being typed
    long long value = 0;       // the number they make (capped far above every channel count)
    long long lastDigitAt = 0;  // when the last digit came
};

// Whether a number is being typed and the pause after its last digit has
// passed at `now`.
bool typedNumberDue(const TypedNumber& number, long long now);

// Adds a digit (0 to 9) typed at `now` to the number.
void addTypedDigit(TypedNumber& number, int digit, long long now);

// Ends the typing: the number typed, or none when no digit was typed. The
// record is empty afterwards.
std::optional<long long> takeTypedNumber(TypedNumber& number);
