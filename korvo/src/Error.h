// The one exception type of the simulator: a refusal carrying a device or
// servo-loop code. Every exported function catches it and returns the code.
#pragma once

#include <exception>

namespace korvo::sim {

class Error : public std::exception {
public:
    explicit Error(int code) noexcept : code_(code) {}
    int code() const noexcept { return code_; }
    const char* what() const noexcept override { return "korvo simulator refusal"; }

private:
    int code_;
};

// Throws Error(code) unless the condition holds.
inline void require(bool condition, int code) {
    if (!condition) throw Error(code);
}

}  // namespace korvo::sim
