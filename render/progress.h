// One updating line on stderr while a picture is rendered: percent done, dots
// per second and the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace render {

class Progress {
public:
    // Shown only when enabled; the line goes to out.
    Progress(int64_t totalDots, bool enabled, std::FILE* out = stderr);

    // Called with the dots done so far; redraws the line at most a few times a second.
    void update(int64_t done);
    // Ends the line after the last dot.
    void finish();
    // A line left unfinished (the render failed) is ended, so that what
    // follows starts on a line of its own.
    ~Progress();

private:
    void draw(int64_t done, bool last);

    int64_t total_;
    bool enabled_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    int width_ = 0;
};

// Whether the line is wanted: not with --quiet, and only on a terminal.
bool ProgressWanted(bool quiet);

} // namespace render
