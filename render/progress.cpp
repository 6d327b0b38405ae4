#include "render/progress.h"

#include <algorithm>
#include <string>

#include <unistd.h>

namespace render {

namespace {

using Clock = std::chrono::steady_clock;

std::string duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

} // namespace

Progress::Progress(int64_t totalDots, bool enabled, std::FILE* out)
    : total_(totalDots), enabled_(enabled), out_(out), start_(Clock::now()), lastDraw_(start_)
{
}

bool ProgressWanted(bool quiet) { return !quiet && ::isatty(STDERR_FILENO); }

void Progress::update(int64_t done)
{
    if (!enabled_)
        return;
    const auto now = Clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(250))
        return;
    lastDraw_ = now;
    draw(done, false);
}

void Progress::finish()
{
    if (enabled_)
        draw(total_, true);
    enabled_ = false;
}

Progress::~Progress()
{
    if (enabled_ && width_ > 0)
        std::fputc('\n', out_);
}

void Progress::draw(int64_t done, bool last)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double percent = total_ > 0 ? 100.0 * static_cast<double>(done) / total_ : 100.0;
    char line[160];
    if (last)
        std::snprintf(line, sizeof line, "%5.1f%%  %.0f dots/s  done in %s", percent, rate,
                      duration(elapsed).c_str());
    else
        std::snprintf(line, sizeof line, "%5.1f%%  %.0f dots/s  %s left", percent, rate,
                      rate > 0 ? duration(static_cast<double>(total_ - done) / rate).c_str()
                               : "--:--");
    const int length = static_cast<int>(std::string(line).size());
    // Blanks wipe what a longer earlier line left behind.
    std::fprintf(out_, "\r%s%*s%s", line, std::max(0, width_ - length), "", last ? "\n" : "");
    std::fflush(out_);
    width_ = length;
}

} // namespace render
