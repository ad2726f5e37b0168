// The replay journal of a random-call driver: the last calls it made, printed
// with a finding together with the seed and the call count that replay it.
#pragma once

#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

namespace fuzz {

// A printf format and its arguments as a string (truncated at 639 bytes).
inline std::string formatted(const char* format, va_list args) {
    char text[640];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

// Any thread may note calls; a finding ends the process at once, without
// running destructors, since the state it found is not to be trusted.
class CallJournal {
public:
    static constexpr std::size_t kKept = 40;  // calls printed with a finding

    CallJournal(const char* program, std::uint64_t seed) : program_(program), seed_(seed) {}

    void note(std::uint64_t call, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back("#" + std::to_string(call) + " " + text);
        if (calls_.size() > kKept) {
            calls_.pop_front();
        }
    }

    // A contract broken at `call`: what, how to replay it, the last calls.
    [[noreturn]] void finding(std::uint64_t call, const std::string& text) {
        std::fprintf(stderr, "%s: FINDING with seed %" PRIu64 " at call %" PRIu64 ": %s\n", program_, seed_, call,
                     text.c_str());
        std::fprintf(stderr, "%s: replay with --seed %" PRIu64 " --calls %" PRIu64 "; last calls:\n", program_, seed_,
                     call + 1);
        printCallsAndExit();
    }

    // No call finished for too long after `call`.
    [[noreturn]] void hang(std::uint64_t call, const char* how) {
        std::fprintf(stderr, "%s: FINDING with seed %" PRIu64 ": %s after call %" PRIu64 "; last calls:\n", program_,
                     seed_, how, call);
        printCallsAndExit();
    }

private:
    [[noreturn]] void printCallsAndExit() {
        std::lock_guard<std::mutex> guard(lock_);
        for (const std::string& line : calls_) {
            std::fprintf(stderr, "  %s\n", line.c_str());
        }
        std::fflush(stderr);
        std::_Exit(1);
    }

    const char* const program_;
    const std::uint64_t seed_;
    std::mutex lock_;
    std::deque<std::string> calls_;
};

}  // namespace fuzz
