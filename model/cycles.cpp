#include "model/cycles.h"

#include "model/engine.h"
#include "model/errors.h"
#include "model/fixed_point_lanes.h"
#include "model/interrupt.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>

namespace model::analysis {

double TanhSlope(double s)
{
    // 1 - tanh(s)^2 = 4 e / (1 + e)^2 with e = exp(-2|s|): no cancellation,
    // and no overflow for any s.
    const double e = std::exp(-2 * std::fabs(s));
    return 4 * e / ((1 + e) * (1 + e));
}

std::array<Multiplier, 2> Multipliers(double trace, double det)
{
    const double m = trace / 2;
    if (std::fabs(m) > 1e150) // m * m would overflow; the pair is (trace, det / trace)
        return {Multiplier{trace, 0}, Multiplier{det / trace, 0}};
    const double disc = m * m - det;
    if (disc >= 0) {
        const double big = m + std::copysign(std::sqrt(disc), m);
        const double small = big != 0 ? det / big : 0;
        return {Multiplier{big, 0}, Multiplier{small, 0}};
    }
    const double im = std::sqrt(-disc);
    return {Multiplier{m, im}, Multiplier{m, -im}};
}

// A real multiplier's modulus is taken without the library's hypot, which
// gives the same value for it, only slower.
double Modulus(const Multiplier& mu)
{
    return mu.im == 0 ? std::fabs(mu.re) : std::hypot(mu.re, mu.im);
}

OrbitType TypeOf(const std::array<Multiplier, 2>& mu)
{
    const double r0 = Modulus(mu[0]);
    const double r1 = Modulus(mu[1]);
    if (std::fabs(r0 - 1) <= kNonHyperbolic || std::fabs(r1 - 1) <= kNonHyperbolic)
        return OrbitType::NonHyperbolic;
    if (r0 < 1 && r1 < 1)
        return OrbitType::Attracting;
    if (r0 > 1 && r1 > 1)
        return OrbitType::Repelling;
    return OrbitType::Saddle;
}

const char* TypeName(OrbitType type)
{
    switch (type) {
    case OrbitType::Attracting: return "attracting";
    case OrbitType::Saddle: return "saddle";
    case OrbitType::Repelling: return "repelling";
    case OrbitType::NonHyperbolic: break;
    }
    return "non-hyperbolic";
}

namespace {

struct Mat {
    double a = 1, b = 0, c = 0, d = 1; // [a b; c d]
};

Mat operator*(const Mat& p, const Mat& q)
{
    return {p.a * q.a + p.b * q.c, p.a * q.b + p.b * q.d, p.c * q.a + p.d * q.c,
            p.c * q.b + p.d * q.d};
}

Point Apply(const Mat& m, Point v) { return {m.a * v.x + m.b * v.y, m.c * v.x + m.d * v.y}; }

bool Finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double Distance(Point p, Point q) { return std::max(std::fabs(p.x - q.x), std::fabs(p.y - q.y)); }

// One step of the map and its Jacobian diag(1 - x'^2, 1 - y'^2) * W.
Point Step(const Weights& w, Point z, Mat* jacobian = nullptr)
{
    const double s1 = (w[0] * z.x + w[1] * z.y) + w[4];
    const double s2 = (w[2] * z.x + w[3] * z.y) + w[5];
    if (!jacobian)
        return {std::tanh(s1), std::tanh(s2)};
    Point image;
    double d1, d2;
    TanhWithSlope(s1, image.x, d1);
    TanhWithSlope(s2, image.y, d2);
    *jacobian = {d1 * w[0], d1 * w[1], d2 * w[2], d2 * w[3]};
    return image;
}

constexpr double kConverged = 1e-12;  // the largest defect of a converged cycle
constexpr double kSameCycle = 1e-9;   // points this close coincide, beyond the runs' accuracy
constexpr double kAccuracySlack = 10; // how far beyond it: linear convergence leaves more than a step
constexpr int kMaxIterations = 40;    // Newton steps of one run
constexpr int kPolishSteps = 10;      // steps taken after convergence, while they help
constexpr int kMaxHalvings = 8;       // damping of one step
constexpr int kStartsPerBlock = 256;  // starts evaluated together before their results merge

enum class Outcome { Converged, Overflowed, NotConverged };

// The arrays of one Newton run. A thread keeps one set and lends it to its
// runs one after another, so that the many short runs of a continuation
// allocate nothing; a run that starts while the thread's set is lent (none
// does today) takes a set of its own.
struct RunArrays {
    std::vector<Point> z, fz, dz, trial, ftrial;
    std::vector<Mat> j, jtrial;
    // The lanes' arguments and results, both neurons of each point.
    std::vector<double> s, t, slope;
    bool lent = false;

    void resize(int k)
    {
        for (auto* v : {&z, &fz, &dz, &trial, &ftrial})
            v->resize(static_cast<size_t>(k));
        j.resize(static_cast<size_t>(k));
        jtrial.resize(static_cast<size_t>(k));
        // The lanes are padded to whole blocks of kTanhLaneBlock, the padding
        // held at 0, so that no lane is left to scalar code.
        const size_t lanes = static_cast<size_t>(PaddedLanes(2 * k));
        for (auto* v : {&s, &t, &slope})
            v->resize(lanes);
        std::fill(s.begin() + 2 * k, s.end(), 0.0);
    }
};

RunArrays& Borrow(std::unique_ptr<RunArrays>& own)
{
    thread_local RunArrays kept;
    RunArrays& a = kept.lent ? *(own = std::make_unique<RunArrays>()) : kept;
    a.lent = true;
    return a;
}

// One Newton run for period k: the orbit points z, their images and Jacobians.
class Run {
public:
    Run(const Weights& w, int k, int polishSteps = kPolishSteps)
        : w_(w), k_(k), polishSteps_(polishSteps), a_(Borrow(own_)), z_(a_.z), fz_(a_.fz),
          j_(a_.j), dz_(a_.dz), trial_(a_.trial), ftrial_(a_.ftrial), jtrial_(a_.jtrial), s_(a_.s),
          t_(a_.t), slope_(a_.slope)
    {
        a_.resize(k);
    }
    ~Run() { a_.lent = false; }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    Outcome solve(Point start)
    {
        z_[0] = start;
        for (int i = 1; i < k_; ++i)
            z_[i] = Step(w_, z_[i - 1]);
        return iterate();
    }

    // From a whole orbit guessed beforehand (a cycle of a nearby parameter
    // vector), point for point.
    // No estimate of the error is made: accuracy() is 0.
    Outcome solveFrom(const std::vector<Point>& guess)
    {
        z_ = guess;
        estimate_ = false;
        return iterate();
    }

    // After a converged run: the orbit and an estimate of its error (the size
    // of the Newton step that was not taken).
    const std::vector<Point>& points() const { return z_; }
    // The step Jacobians at the points, as evaluated with them.
    const std::vector<Mat>& jacobians() const { return j_; }
    double accuracy() const { return accuracy_; }

private:
    Outcome iterate()
    {
        double defect = evaluate(z_, fz_, j_);
        if (!std::isfinite(defect))
            return Outcome::Overflowed;
        int polished = 0;
        double size = 0; // of the latest step, the estimate of the error left
        for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
            // Polished: the step not taken would only estimate the error.
            if (!estimate_ && defect < kConverged && polished == polishSteps_)
                return finish(0);
            if (!direction())
                return defect < kConverged ? finish(size) : Outcome::Overflowed;
            size = 0;
            for (const Point& d : dz_)
                size = std::max({size, std::fabs(d.x), std::fabs(d.y)});
            if (defect < kConverged && (polished++ == polishSteps_ || size == 0))
                return finish(size);
            // Damped step: within 1 in every coordinate, and lowering the defect.
            // Once converged, a polishing step is taken whole or not at all:
            // what it fails to lower is rounding, which halving cannot lower.
            double lambda = size > 1 ? 1 / size : 1;
            bool accepted = false;
            const int halvings = defect < kConverged ? 1 : kMaxHalvings;
            for (int h = 0; h < halvings && !accepted; ++h, lambda /= 2) {
                for (int i = 0; i < k_; ++i)
                    trial_[i] = {z_[i].x + lambda * dz_[i].x, z_[i].y + lambda * dz_[i].y};
                const double d = evaluate(trial_, ftrial_, jtrial_, defect);
                if (d < defect) { // false for a NaN
                    z_.swap(trial_);
                    fz_.swap(ftrial_);
                    j_.swap(jtrial_);
                    defect = d;
                    accepted = true;
                }
            }
            if (!accepted)
                return defect < kConverged ? finish(size) : Outcome::NotConverged;
        }
        return defect < kConverged ? finish(size) : Outcome::NotConverged;
    }

    Outcome finish(double size)
    {
        accuracy_ = size;
        return Outcome::Converged;
    }

    // The images and Jacobians of the points z; the largest defect
    // |F(z_i) - z_{i+1}|, infinity where anything is not finite. The steps
    // are taken in vector lanes, both neurons of every point side by side:
    // the bits of Step, one point at a time.
    //
    // A trial step is kept only if its defect is below `bound`: once the
    // defect reaches it, the rest (which could only raise it) is left.
    double evaluate(const std::vector<Point>& z, std::vector<Point>& fz, std::vector<Mat>& j,
                    double bound = INFINITY)
    {
        const Weights& w = w_;
        for (int i = 0; i < k_; ++i) {
            s_[2 * i] = (w[0] * z[i].x + w[1] * z[i].y) + w[4];
            s_[2 * i + 1] = (w[2] * z[i].x + w[3] * z[i].y) + w[5];
        }
        TanhWithSlopeLanes(s_.data(), t_.data(), slope_.data(), PaddedLanes(2 * k_));
        double defect = 0;
        for (int i = 0; i < k_; ++i) {
            fz[i] = {t_[2 * i], t_[2 * i + 1]};
            const double d1 = slope_[2 * i], d2 = slope_[2 * i + 1];
            j[i] = {d1 * w[0], d1 * w[1], d2 * w[2], d2 * w[3]};
            const Point next = z[i + 1 < k_ ? i + 1 : 0];
            if (!Finite(z[i]) || !Finite(fz[i]))
                return INFINITY;
            defect = std::max({defect, std::fabs(fz[i].x - next.x), std::fabs(fz[i].y - next.y)});
            if (!(defect < bound))
                return defect;
        }
        return defect;
    }

    // The Newton step of the cycle equations J_i dz_i - dz_{i+1} = -r_i, with
    // r_i = F(z_i) - z_{i+1}. Carried around the orbit, dz_k = M dz_0 + c with
    // M the product of the Jacobians and c = sum of J_{k-1}..J_{i+1} r_i; the
    // orbit closes (dz_k = dz_0) for dz_0 = (I - M)^-1 c, the Newton step of
    // F^k(z) - z. False where I - M is singular or anything overflowed.
    bool direction()
    {
        Mat m;
        Point c{0, 0};
        for (int i = 0; i < k_; ++i) {
            const Point& next = z_[i + 1 < k_ ? i + 1 : 0];
            const Point r{fz_[i].x - next.x, fz_[i].y - next.y};
            const Point jc = Apply(j_[i], c);
            c = {jc.x + r.x, jc.y + r.y};
            m = j_[i] * m;
        }
        const double a = 1 - m.a, b = -m.b, cc = -m.c, d = 1 - m.d;
        const double det = a * d - b * cc;
        if (det == 0 || !std::isfinite(det))
            return false;
        dz_[0] = {(d * c.x - b * c.y) / det, (a * c.y - cc * c.x) / det};
        for (int i = 0; i + 1 < k_; ++i) {
            const Point r{fz_[i].x - z_[i + 1].x, fz_[i].y - z_[i + 1].y};
            const Point jd = Apply(j_[i], dz_[i]);
            dz_[i + 1] = {jd.x + r.x, jd.y + r.y};
        }
        for (const Point& p : dz_)
            if (!Finite(p))
                return false;
        return true;
    }

    const Weights& w_;
    const int k_;
    const int polishSteps_;
    std::unique_ptr<RunArrays> own_;
    RunArrays& a_;
    // The borrowed arrays by name.
    std::vector<Point>& z_;
    std::vector<Point>& fz_;
    std::vector<Mat>& j_;
    std::vector<Point>& dz_;
    std::vector<Point>& trial_;
    std::vector<Point>& ftrial_;
    std::vector<Mat>& jtrial_;
    std::vector<double>& s_;
    std::vector<double>& t_;
    std::vector<double>& slope_;
    double accuracy_ = 0;
    bool estimate_ = true; // of the error left, from the step not taken
};

// A converged cycle before the merge: its points from the smallest, and the
// accuracy of its run.
struct Found {
    std::vector<Point> points;
    double accuracy = 0;
};

struct StartResult {
    std::vector<Found> found;
    int overflowed = 0;
    int notConverged = 0;
};

bool Before(Point p, Point q) { return p.x < q.x || (p.x == q.x && p.y < q.y); }

// True when the orbit repeats after a proper divisor of its length.
bool RepeatsEarlier(const std::vector<Point>& z, double tolerance)
{
    const int k = static_cast<int>(z.size());
    for (int d = 1; d < k; ++d)
        if (k % d == 0 && Distance(z[d], z[0]) <= tolerance)
            return true;
    return false;
}

StartResult SearchFrom(const Weights& w, int maxPeriod, Point start)
{
    StartResult result;
    for (int k = 1; k <= maxPeriod; ++k) {
        CheckInterrupt();
        Run run(w, k);
        switch (run.solve(start)) {
        case Outcome::Overflowed: ++result.overflowed; continue;
        case Outcome::NotConverged: ++result.notConverged; continue;
        case Outcome::Converged: break;
        }
        const std::vector<Point>& z = run.points();
        if (RepeatsEarlier(z, kSameCycle + kAccuracySlack * run.accuracy()))
            continue;
        const auto first = std::min_element(z.begin(), z.end(), Before) - z.begin();
        Found f;
        f.accuracy = run.accuracy();
        f.points.reserve(k);
        for (int i = 0; i < k; ++i)
            f.points.push_back(z[(first + i) % k]);
        result.found.push_back(std::move(f));
    }
    return result;
}

// The cycles found so far, with every point of every cycle indexed by x.
class Merged {
public:
    void add(Found f)
    {
        const int k = static_cast<int>(f.points.size());
        const Point p0 = f.points[0];
        const double reach = kSameCycle + kAccuracySlack * (f.accuracy + largestAccuracy_);
        for (auto it = byX_.lower_bound(p0.x - reach); it != byX_.end() && it->first <= p0.x + reach; ++it) {
            const auto [index, offset] = it->second;
            const Found& g = cycles_[index];
            if (static_cast<int>(g.points.size()) != k)
                continue;
            const double tolerance = kSameCycle + kAccuracySlack * (f.accuracy + g.accuracy);
            bool same = true;
            for (int i = 0; i < k && same; ++i)
                same = Distance(f.points[i], g.points[(offset + i) % k]) <= tolerance;
            if (same)
                return;
        }
        largestAccuracy_ = std::max(largestAccuracy_, f.accuracy);
        for (int i = 0; i < k; ++i)
            byX_.emplace(f.points[i].x, std::pair{cycles_.size(), i});
        cycles_.push_back(std::move(f));
    }

    std::vector<Found>& cycles() { return cycles_; }

private:
    std::vector<Found> cycles_;
    std::multimap<double, std::pair<size_t, int>> byX_;
    double largestAccuracy_ = 0;
};

Cycle Describe(const Weights& w, Found&& f)
{
    Cycle c;
    c.period = static_cast<int>(f.points.size());
    // The product of the step Jacobians along the cycle, and its determinant
    // as the product of theirs, exact even where the product matrix is
    // dominated by a large multiplier.
    Mat m;
    double det = 1;
    for (const Point& p : f.points) {
        Mat j;
        Step(w, p, &j);
        m = j * m;
        det *= j.a * j.d - j.b * j.c;
    }
    c.multipliers = Multipliers(m.a + m.d, det);
    c.type = TypeOf(c.multipliers);
    c.points = std::move(f.points);
    return c;
}

} // namespace

namespace {

// The product of the step Jacobians j(i), i = 0..k-1, in orbit order, and
// their determinants' product.
template <class J>
Monodromy ProductOf(int k, J j)
{
    Mat m;
    double det = 1;
    for (int i = 0; i < k; ++i) {
        const Mat ji = j(i);
        m = ji * m;
        det *= ji.a * ji.d - ji.b * ji.c;
    }
    return {m.a + m.d, det, m.a, m.b, m.c, m.d};
}

} // namespace

Monodromy MonodromyOf(const Weights& w, const std::vector<Point>& points)
{
    return ProductOf(static_cast<int>(points.size()), [&](int i) {
        Mat j;
        Step(w, points[i], &j);
        return j;
    });
}

std::optional<std::vector<Point>> RefineCycle(const Weights& w, const std::vector<Point>& guess,
                                              Monodromy* monodromy)
{
    if (guess.empty() || guess.size() > static_cast<size_t>(kMaxRefinedPeriod))
        return std::nullopt;
    // One step past convergence: a continuation refines the same cycle again
    // at its next step, and its test functions need no more.
    Run run(w, static_cast<int>(guess.size()), 1);
    if (run.solveFrom(guess) != Outcome::Converged)
        return std::nullopt;
    if (monodromy)
        *monodromy = ProductOf(static_cast<int>(guess.size()),
                               [&](int i) { return run.jacobians()[i]; });
    return run.points();
}

int MinimalPeriod(const std::vector<Point>& points, double tolerance)
{
    const int k = static_cast<int>(points.size());
    for (int d = 1; d < k; ++d) {
        if (k % d != 0)
            continue;
        bool repeats = true;
        for (int i = 0; i + d < k && repeats; ++i)
            repeats = Distance(points[i + d], points[i]) <= tolerance;
        if (repeats)
            return d;
    }
    return k;
}

CycleReport FindCycles(const Weights& w, const CycleSearch& search)
{
    if (search.maxPeriod < 1 || search.maxPeriod > kMaxCyclePeriod)
        throwIndexOutOfRange("The largest period must be 1.." + std::to_string(kMaxCyclePeriod) + ".");
    if (search.seeds < 1 || search.seeds > kMaxCycleSeeds)
        throwIndexOutOfRange("The number of seeds must be 1.." + std::to_string(kMaxCycleSeeds) + ".");
    for (double v : {search.x0, search.x1, search.y0, search.y1})
        if (!std::isfinite(v))
            throwIndexOutOfRange("The region of the starts must be finite.");

    std::vector<Point> starts;
    const int g = search.seeds;
    for (int j = 0; j < g; ++j)
        for (int i = 0; i < g; ++i) {
            const double u = g == 1 ? 0.5 : static_cast<double>(i) / (g - 1);
            const double v = g == 1 ? 0.5 : static_cast<double>(j) / (g - 1);
            starts.push_back({std::lerp(search.x0, search.x1, u), std::lerp(search.y0, search.y1, v)});
        }
    starts.insert(starts.end(), search.extraStarts.begin(), search.extraStarts.end());

    CycleReport report;
    Merged merged;
    // Each start is searched on its own; the results merge in start order, so
    // that the list is the same on any number of threads.
    std::vector<StartResult> block;
    for (size_t first = 0; first < starts.size(); first += kStartsPerBlock) {
        const size_t n = std::min<size_t>(kStartsPerBlock, starts.size() - first);
        block.assign(n, {});
        // On the engine's threads, so that a run's thread count holds here too.
        auto body = [&](int begin, int end) {
            for (int s = begin; s < end; ++s) {
                CheckInterrupt();
                block[s] = SearchFrom(w, search.maxPeriod, starts[first + s]);
            }
        };
        model::ForEachChunk(static_cast<int>(n), 1, body);
        for (StartResult& r : block) {
            report.overflowed += r.overflowed;
            report.notConverged += r.notConverged;
            for (Found& f : r.found)
                merged.add(std::move(f));
        }
    }
    report.newtonRuns = static_cast<int64_t>(starts.size()) * search.maxPeriod;

    for (Found& f : merged.cycles())
        report.cycles.push_back(Describe(w, std::move(f)));
    std::stable_sort(report.cycles.begin(), report.cycles.end(), [](const Cycle& a, const Cycle& b) {
        if (a.period != b.period)
            return a.period < b.period;
        return Before(a.points[0], b.points[0]);
    });
    return report;
}

std::optional<size_t> CycleThrough(const std::vector<Cycle>& cycles, double x, double y,
                                   double tolerance)
{
    std::optional<size_t> best;
    double nearest = tolerance;
    for (size_t i = 0; i < cycles.size(); ++i)
        for (const Point& p : cycles[i].points) {
            const double d = Distance(p, {x, y});
            if (d <= nearest) {
                nearest = d;
                best = i;
            }
        }
    return best;
}

} // namespace model::analysis
