#pragma once
// The step a join is running; the numbers are stable (they select progress formulas and the
// output handlers of the encoder runs).

namespace quilmer {

enum class JoinPhase : int {
    Probing = 0,
    Converting = 1,
    Concatenating = 2,
    EncodingAvi = 3,
    EncodingFlv = 4,
    EncodingRmvb = 5,
    EncodingWmv = 6,
    EncodingMp4Pass1 = 7,
    EncodingMp4Pass2 = 8,
    CheckingResult = 9,  // the finished output is probed before it counts as made
};

inline bool IsFinalEncode(JoinPhase phase) {
    return phase >= JoinPhase::EncodingAvi && phase <= JoinPhase::EncodingMp4Pass2;
}

}  // namespace quilmer
