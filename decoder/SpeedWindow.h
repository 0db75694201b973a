#pragma once

#include <array>
#include <cstdint>

namespace platora {

// The terms of the speed estimate, one pushed per stored peak: the signed duration of the
// two peak intervals that end at that peak, 1.0 at nominal speed. The estimate sums the
// terms before the newest one in float, newest first, rounding after every addition: a
// chain of dependent additions, and one that cannot be updated as the window slides.
// So each term is also kept in fixed point, whose running sum is exact in any order and
// tells the sign of that float chain whenever the sum lies clearly away from zero.
// Nothing here allocates.
class SpeedWindow {
public:
    static constexpr int length = 32;  // terms of a full estimate
    enum class Sign { positive, negative, unsure };

    void clear() { *this = SpeedWindow(); }

    void push(double term) {
        // The term pushed before this one enters the window; the one `length` before it leaves.
        const std::int64_t entering = fixed_[newest_];
        const std::int64_t leaving = fixed_[(newest_ - length) & mask];
        fixedSum_ += entering - leaving;
        fixedMagnitude_ += magnitude(entering) - magnitude(leaving);
        newest_ = (newest_ + 1) & mask;
        terms_[newest_] = term;
        fixed_[newest_] = toFixed(term);
    }

    // The sign of estimate(length, 0), when the fixed-point sum decides it for sure. The float
    // chain is within 2^-18 of the sum of the magnitudes from the exact sum, and the fixed
    // point within `length` steps: the margin covers both with room to spare.
    Sign sign() const {
        if (fixedMagnitude_ >= fixedLimit) return Sign::unsure;  // a term may have been clamped
        const std::int64_t margin = (fixedMagnitude_ >> 14) + 256;
        if (fixedSum_ > margin) return Sign::positive;
        if (fixedSum_ < -margin) return Sign::negative;
        return Sign::unsure;
    }

    // estimate(length, 0) from the fixed-point sum: the same within a few roundings, and
    // formed at once. Only while sign() is not unsure.
    float quickEstimate() const { return static_cast<float>(length * fixedScale / static_cast<double>(fixedSum_)); }

    // Term k (0 = newest) of the estimate's window as it stood `age` pushes ago; the window
    // starts with the term pushed before the newest. k + age < 63.
    double term(int k, int age) const { return terms_[(newest_ - age - 1 - k) & mask]; }

    // The estimate from n <= length terms, newest first: their sum formed in float, newest
    // first, rounding after every addition, and the reciprocal of its mean.
    template <class TermAt>
    static float estimate(int n, const TermAt& termAt) {
        float sum = 0.0f;
        for (int k = 0; k < n; ++k) sum = static_cast<float>(sum + termAt(k));
        return static_cast<float>(1.0 / (static_cast<double>(sum) / n));
    }
    float estimate(int n, int age) const {
        return estimate(n, [&](int k) { return term(k, age); });
    }

private:
    static constexpr int ringSize = 64;  // a power of two above length + 1: a window one push old
    static constexpr int mask = ringSize - 1;
    static constexpr double fixedScale = 65536.0;                      // steps per unit of a term
    static constexpr double termLimit = 68719476736.0;                 // 2^36: |terms| beyond are clamped
    static constexpr std::int64_t fixedLimit = std::int64_t{1} << 52;  // termLimit in fixed point
    static_assert(termLimit * fixedScale == static_cast<double>(fixedLimit));
    static_assert(length * fixedLimit < (std::int64_t{1} << 62), "window sums cannot overflow");

    static std::int64_t magnitude(std::int64_t value) { return value < 0 ? -value : value; }
    static std::int64_t toFixed(double term) {
        // NaN counts as huge, so that sign() stays unsure.
        const double clamped = term >= -termLimit && term <= termLimit ? term : term < 0 ? -termLimit : termLimit;
        return static_cast<std::int64_t>(clamped * fixedScale);
    }

    std::array<double, ringSize> terms_{};
    std::array<std::int64_t, ringSize> fixed_{};
    std::int64_t fixedSum_ = 0;        // of the `length` terms before the newest
    std::int64_t fixedMagnitude_ = 0;  // sum of their magnitudes
    int newest_ = 0;
};

}  // namespace platora
