#include "qm/collision/CollisionRecorder.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <locale>
#include <mutex>
#include <ostream>
#include <utility>

#include "qm/api/ErrorManager.h"
#include "qm/api/Symbols.h"
#include "qm/servo/MotionTransform.h"

namespace QM {

namespace {

constexpr std::size_t kReadChunk = 4096;
// How many cut points a possibly cut last element is tried at (see
// lastElementIsWhole); each try parses the element's text once.
constexpr int kCutTries = 8;

// Every context has a recorder and all of them are switched together, but
// two streams truncating and appending to one file would interleave their
// ticks into garbage. The first recorder to open a file for writing claims
// it; the others record nothing while it holds it.
struct WriterClaims {
    std::mutex mutex;
    std::vector<std::string> paths;
};

WriterClaims& writerClaims() {
    // Never destroyed: a recorder may be released after static destructors
    // have run at library unload.
    static WriterClaims* claims = new WriterClaims;
    return *claims;
}

bool claimWriter(const std::string& path) {
    WriterClaims& c = writerClaims();
    std::lock_guard<std::mutex> guard(c.mutex);
    if (std::find(c.paths.begin(), c.paths.end(), path) != c.paths.end()) {
        return false;
    }
    c.paths.push_back(path);
    return true;
}

void releaseWriter(const std::string& path) {
    WriterClaims& c = writerClaims();
    std::lock_guard<std::mutex> guard(c.mutex);
    auto at = std::find(c.paths.begin(), c.paths.end(), path);
    if (at != c.paths.end()) {
        c.paths.erase(at);
    }
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Exactly three finite numbers separated (and optionally surrounded) by
// white space. Parsing is independent of the process's locale.
bool parseTriple(const char* text, zvu::zvuVector3Dd& out) {
    const char* p = text;
    const char* end = text + std::char_traits<char>::length(text);
    double v[3];
    for (double& value : v) {
        while (p != end && isSpace(*p)) ++p;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || next == p || !std::isfinite(value)) {
            return false;
        }
        p = next;
        if (p != end && !isSpace(*p)) {
            return false;
        }
    }
    while (p != end && isSpace(*p)) ++p;
    if (p != end) {
        return false;
    }
    out = {v[0], v[1], v[2]};
    return true;
}

bool parsesWhole(const std::string& text) {
    pugi::xml_document doc;
    return static_cast<bool>(doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment));
}

// After a failed parse, the partial tree holds every element the parser had
// opened. An element followed by a sibling was closed before the sibling
// began, but the last one may have been cut off inside. It is whole exactly
// when the text from its start to the end of its end tag parses on its own;
// that end tag ends at one of the last '>' before the point where parsing
// failed, so only those cut points are tried, latest first.
bool lastElementIsWhole(const std::string& text, const pugi::xml_node& element, std::size_t failedAt) {
    const std::ptrdiff_t nameAt = element.offset_debug();
    if (nameAt < 1 || static_cast<std::size_t>(nameAt) > text.size()) {
        return false;
    }
    const std::size_t start = static_cast<std::size_t>(nameAt) - 1;  // the '<'
    std::size_t end = std::min(failedAt, text.size());
    for (int tries = 0; tries < kCutTries && end > start; ++tries) {
        const std::size_t close = text.rfind('>', end - 1);
        if (close == std::string::npos || close < start) {
            return false;
        }
        if (parsesWhole(text.substr(start, close + 1 - start))) {
            return true;
        }
        end = close;
    }
    return false;
}

}  // namespace

CollisionRecorder::CollisionRecorder(IErrorManager& errors, std::string path, std::ostream* echo)
    : errors_(errors), path_(std::move(path)), echo_(echo) {}

// The error store may be gone by now: nothing is reported.
CollisionRecorder::~CollisionRecorder() { closeRecording(false); }

std::ostream* CollisionRecorder::standardOutput() noexcept { return &std::cout; }

void CollisionRecorder::report(QMenum code) noexcept {
    try {
        errors_.pushError(code);
    } catch (...) {
    }
}

void CollisionRecorder::setMode(RecorderMode mode) noexcept {
    const RecorderMode old = this->mode();
    if (old == RecorderMode::Recording) {
        closeRecording(true);
    } else if (old == RecorderMode::Playback) {
        positions_ = {};
        ticks_ = {};
        loaded_ = false;
    }
    mode_.store(RecorderMode::Off, std::memory_order_release);
    try {
        if (mode == RecorderMode::Recording) {
            // A recording that cannot start leaves the recorder off, so its
            // mode never claims a file that is not being written.
            if (!openForRecording()) {
                return;
            }
        } else if (mode == RecorderMode::Playback) {
            reportedEnd_ = nullptr;
            reportedMalformedTick_ = false;
            havePlayed_ = false;
            load();
        }
    } catch (const std::bad_alloc&) {
        report(QM_OUT_OF_MEMORY);
        if (mode == RecorderMode::Recording) {
            closeRecording(false);
            return;
        }
    } catch (...) {
        report(QM_INVALID_OPERATION);
        if (mode == RecorderMode::Recording) {
            closeRecording(false);
            return;
        }
    }
    mode_.store(mode, std::memory_order_release);
}

// ---------------------------------------------------------------- recording

bool CollisionRecorder::openForRecording() {
    writeFailed_ = false;
    claimed_ = claimWriter(path_);
    if (!claimed_) {
        // Another context of this process writes the file.
        report(QM_INVALID_OPERATION);
        return false;
    }
    // Numbers are written the same whatever locale the application set.
    out_.imbue(std::locale::classic());
    out_.open(path_, std::ios::out | std::ios::trunc);
    out_ << "<?xml version=\"1.0\"?>\n"
         << "<!-- Orvell Technologies collision dump file. -->\n"
         << "<FileVersion>1.0</FileVersion>\n"
         << "<Build>zvGetString(ZV_VERSION)</Build>\n";
    out_.flush();
    if (!out_) {
        report(QM_INVALID_OPERATION);
        closeRecording(false);
        return false;
    }
    return true;
}

void CollisionRecorder::closeRecording(bool reportFailure) {
    if (out_.is_open()) {
        out_.close();
        if (!out_ && !writeFailed_ && reportFailure) {
            report(QM_INVALID_OPERATION);
        }
    }
    out_.clear();
    if (claimed_) {
        releaseWriter(path_);
        claimed_ = false;
    }
}

// Each tick is flushed as it is written, so the file on disk always ends
// with whole ticks unless the process dies inside a write.
void CollisionRecorder::recordStep(const ITarget& target) noexcept {
    if (writeFailed_) {
        return;
    }
    try {
        const zvu::zvuVector3Dd& p = target.position();
        out_ << "<Tick>\n<TargetPos>" << p.x << ' ' << p.y << ' ' << p.z << "</TargetPos>\n</Tick>\n";
        out_.flush();
    } catch (...) {
        out_.setstate(std::ios::badbit);
    }
    if (!out_) {
        writeFailed_ = true;
        report(QM_INVALID_OPERATION);
    }
}

// ---------------------------------------------------------------- playback

void CollisionRecorder::load() {
    positions_.clear();
    ticks_.clear();
    cursor_ = 0;
    endProblem_ = nullptr;
    loaded_ = true;
    std::ifstream in(path_, std::ios::in | std::ios::binary);
    if (!in) {
        endProblem_ = QM_INVALID_OPERATION;
        return;
    }
    std::string text;
    char chunk[kReadChunk];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        endProblem_ = QM_INVALID_OPERATION;
    }
    loadText(text);
}

void CollisionRecorder::loadText(const std::string& text) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment);
    pugi::xml_node last;  // the top-level element that may have been cut
    if (!parsed) {
        endProblem_ = QM_INVALID_VALUE;
        last = doc.last_child();
        if (last.type() != pugi::node_element ||
            lastElementIsWhole(text, last, static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0)))) {
            last = pugi::xml_node();
        }
    }
    for (pugi::xml_node tick = doc.child("Tick"); tick; tick = tick.next_sibling("Tick")) {
        if (tick == last) {
            break;
        }
        Tick t;
        t.first = positions_.size();
        bool any = false;
        for (pugi::xml_node pos = tick.child("TargetPos"); pos; pos = pos.next_sibling("TargetPos")) {
            zvu::zvuVector3Dd p;
            if (parseTriple(pos.child_value(), p)) {
                positions_.push_back(p);
                ++t.count;
            } else {
                t.malformed = true;
            }
            any = true;
        }
        t.malformed = t.malformed || !any;
        ticks_.push_back(t);
    }
}

void CollisionRecorder::playbackStep(ITarget& target) noexcept {
    try {
        if (!loaded_ || cursor_ >= ticks_.size()) {
            // Whatever could not be played is reported as playback reaches
            // it, once a run, before it starts over.
            if (loaded_ && endProblem_ != nullptr && endProblem_ != reportedEnd_) {
                reportedEnd_ = endProblem_;
                report(endProblem_);
            }
            load();
            if (ticks_.empty()) {
                return;
            }
        }
        const Tick& tick = ticks_[cursor_++];
        if (tick.malformed && !reportedMalformedTick_) {
            reportedMalformedTick_ = true;
            report(QM_INVALID_VALUE);
        }
        MotionTransform& motion = target.motion();
        for (std::size_t i = tick.first; i < tick.first + tick.count; ++i) {
            const zvu::zvuVector3Dd& p = positions_[i];
            if (echo_ != nullptr) {
                *echo_ << "TargetPos " << p.x << " " << p.y << " " << p.z << "\n";
            }
            // The target moves from the position played before, not from
            // where the device happens to be.
            motion.setPosition(p);
            motion.setLastPosition(havePlayed_ ? lastPlayed_ : p);
            lastPlayed_ = p;
            havePlayed_ = true;
        }
        if (echo_ != nullptr && tick.count > 0) {
            echo_->flush();
        }
    } catch (const std::bad_alloc&) {
        report(QM_OUT_OF_MEMORY);
    } catch (...) {
        report(QM_INVALID_OPERATION);
    }
}

}  // namespace QM
