#pragma once
// A join never lets an exception end the program with the encoder and its files left behind: a
// step or a worker's work that throws ends the join as a failure, with this text as the reason.

#include <functional>
#include <string>

namespace quilmer {

// Runs work. Empty when it returned; otherwise "Unexpected error: <what>" in the user's language.
std::wstring CatchUnexpected(const std::function<void()>& work);

}  // namespace quilmer
