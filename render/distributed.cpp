#include "render/distributed.h"

#include "model/engine.h"
#include "render/command_line.h"
#include "render/job.h"
#include "render/plan.h"
#include "render/tiles.h"

#include <mpi.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <type_traits>

#include <unistd.h>

namespace render {

namespace {

// DotResults travel as bytes between copies of the same program.
static_assert(std::is_trivially_copyable_v<DotResult>);

const MPI_Comm kWorld = MPI_COMM_WORLD;

// Message tags between rank 0 and the others.
constexpr int kOrderTag = 1;  // rank 0 to a rank: an Order
constexpr int kResultTag = 2; // a rank to rank 0: the results of its oldest tile
constexpr int kDoneTag = 3;   // a rank to rank 0: it has stopped and sends nothing more

// What rank 0 tells a rank. Orders from one sender arrive in the order sent,
// and a rank evaluates its tiles in that order, so rank 0 knows which tile each
// result belongs to without it being said.
struct Order {
    enum Kind : int { Evaluate, Finish, Abandon };
    int kind = Evaluate;
    int c0 = 0, c1 = 0; // the tile's dot columns, for Evaluate
};

// Tiles a rank holds at once: one being evaluated and the next one waiting,
// so that asking for more never leaves it idle.
constexpr int kAhead = 2;
// Tiles per rank the picture is cut into at least, so that a slow rank or a
// slow tile delays the end by little.
constexpr int kTilesPerRank = 32;
// Up to this many ranks, rank 0 evaluates tiles too; beyond, serving the
// others is its whole work.
constexpr int kLeaderEvaluatesBelow = 16;
// What rank 0 may hold of results waiting for an earlier tile: tiles are
// handed out at most this far beyond the next to commit (and at most four per
// rank), yet always far enough for every rank to hold its kAhead tiles.
constexpr int64_t kBufferBytes = int64_t{256} << 20;

int teamTileColumns(const Plan& plan, int ranks)
{
    const int spread = plan.columns / (kTilesPerRank * ranks);
    return std::max(1, std::min(TileColumns(plan), spread));
}

// Rank 0's side of a render: hands out tiles on demand, evaluates some itself
// and commits every tile in column order as soon as all before it are in.
class Leader {
public:
    Leader(const Plan& plan, int ranks, Committer& committer,
           const std::function<void(int64_t)>& progress)
        : plan_(plan), ranks_(ranks), committer_(committer), progress_(progress),
          tileColumns_(teamTileColumns(plan, ranks)),
          tiles_((plan.columns + tileColumns_ - 1) / tileColumns_), held_(ranks),
          stopped_(ranks, false)
    {
        const int64_t tileBytes =
            static_cast<int64_t>(tileColumns_) * plan.rows * int64_t{sizeof(DotResult)};
        window_ = static_cast<int>(std::max<int64_t>(
            kAhead * ranks, std::min<int64_t>(4 * ranks, kBufferBytes / tileBytes)));
    }

    void run()
    {
        try {
            for (int r = 1; r < ranks_; ++r)
                hand(r);
            while (committed_ < tiles_) {
                poll(false);
                if (committed_ == tiles_)
                    break;
                if (ranks_ < kLeaderEvaluatesBelow && mayHand())
                    evaluateOwn();
                else
                    poll(true);
            }
            stopAll(Order::Finish);
        } catch (...) {
            // The first failed dot, or anything else: every rank stops after
            // its current tile, and what it still sends is taken and dropped,
            // so that no rank is left waiting on a message.
            abandoning_ = true;
            stopAll(Order::Abandon);
            waitForAll();
            throw;
        }
        waitForAll();
    }

private:
    int c0Of(int tile) const { return tile * tileColumns_; }
    int c1Of(int tile) const { return std::min(plan_.columns, (tile + 1) * tileColumns_); }
    size_t sizeOf(int tile) const
    {
        return static_cast<size_t>(c1Of(tile) - c0Of(tile)) * plan_.rows;
    }
    bool mayHand() const { return next_ < tiles_ && next_ < committed_ + window_; }

    void send(int rank, const Order& order)
    {
        MPI_Send(&order, sizeof order, MPI_BYTE, rank, kOrderTag, kWorld);
    }

    // Tops the rank up to kAhead tiles; once every tile is handed out, tells
    // it to finish those it holds.
    void hand(int rank)
    {
        if (stopped_[rank])
            return;
        while (static_cast<int>(held_[rank].size()) < kAhead && mayHand()) {
            held_[rank].push_back(next_);
            send(rank, Order{Order::Evaluate, c0Of(next_), c1Of(next_)});
            ++next_;
        }
        if (next_ == tiles_) {
            send(rank, Order{Order::Finish});
            stopped_[rank] = true;
        }
    }

    void stopAll(Order::Kind kind)
    {
        for (int r = 1; r < ranks_; ++r)
            if (!stopped_[r]) {
                send(r, Order{kind});
                stopped_[r] = true;
            }
    }

    void waitForAll()
    {
        while (finished_ < ranks_ - 1)
            poll(true);
    }

    // Takes every message that has arrived; with wait, waits for one first.
    void poll(bool wait)
    {
        for (;;) {
            MPI_Status status;
            int arrived = 1;
            if (wait)
                MPI_Probe(MPI_ANY_SOURCE, MPI_ANY_TAG, kWorld, &status);
            else
                MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, kWorld, &arrived, &status);
            wait = false;
            if (!arrived)
                return;
            take(status);
        }
    }

    void take(const MPI_Status& status)
    {
        const int rank = status.MPI_SOURCE;
        int bytes = 0;
        MPI_Get_count(&status, MPI_BYTE, &bytes);
        if (status.MPI_TAG == kDoneTag) {
            MPI_Recv(nullptr, 0, MPI_BYTE, rank, kDoneTag, kWorld, MPI_STATUS_IGNORE);
            ++finished_;
            return;
        }
        const int tile = held_[rank].front();
        held_[rank].pop_front();
        std::vector<DotResult> results(static_cast<size_t>(bytes) / sizeof(DotResult));
        MPI_Recv(results.data(), bytes, MPI_BYTE, rank, kResultTag, kWorld, MPI_STATUS_IGNORE);
        if (abandoning_)
            return;
        if (results.size() != sizeOf(tile)) {
            std::cerr << "veltrane-render: rank " << rank << " sent a tile of the wrong size.\n";
            MPI_Abort(kWorld, 1);
        }
        ready_.emplace(tile, std::move(results));
        commitReady();
        hand(rank);
    }

    void evaluateOwn()
    {
        const int tile = next_++;
        held_[0].push_back(tile);
        std::vector<DotResult> results(sizeOf(tile));
        // Through the driver in slices, taking messages between them, so that
        // no rank waits long for its next tile while rank 0 computes.
        const int64_t slice = static_cast<int64_t>(std::max(1, tileColumns_ / 8)) * plan_.rows;
        Drive(
            plan_, c0Of(tile), c1Of(tile),
            [&](int c0, int c1, const DotResult* in) {
                std::copy_n(in, static_cast<size_t>(c1 - c0) * plan_.rows,
                            results.data() + static_cast<size_t>(c0 - c0Of(tile)) * plan_.rows);
            },
            [&](int64_t) { poll(false); }, [slice](int64_t, double, int64_t) { return slice; });
        held_[0].pop_front();
        ready_.emplace(tile, std::move(results));
        commitReady();
    }

    // Commits the tiles that follow the committed ones without a gap; ranks
    // that wait for tiles because of the bound on held results get them.
    void commitReady()
    {
        const int before = committed_;
        for (auto it = ready_.find(committed_); it != ready_.end();
             it = ready_.find(committed_)) {
            committer_.commit(c0Of(committed_), c1Of(committed_), it->second.data());
            ready_.erase(it);
            ++committed_;
            if (progress_)
                progress_(static_cast<int64_t>(c1Of(committed_ - 1)) * plan_.rows);
        }
        if (committed_ != before)
            for (int r = 1; r < ranks_; ++r)
                hand(r);
    }

    const Plan& plan_;
    const int ranks_;
    Committer& committer_;
    const std::function<void(int64_t)>& progress_;
    const int tileColumns_, tiles_;
    int window_ = 0;        // tiles beyond the next to commit that may be handed out
    int next_ = 0;          // the next tile to hand out
    int committed_ = 0;     // tiles committed
    int finished_ = 0;      // ranks that have stopped
    bool abandoning_ = false;
    std::vector<std::deque<int>> held_; // tiles each rank holds, oldest first
    std::vector<bool> stopped_;         // told to finish or abandon
    std::map<int, std::vector<DotResult>> ready_; // evaluated, waiting for earlier tiles
};

// What rank 0 broadcasts: a render begins (its job follows as JSON text), or
// the run is over with an exit status.
struct Announcement {
    int starting = 0;
    int status = 0;
    int threads = 0;
    int jobLength = 0;
};

void announce(Announcement a)
{
    MPI_Bcast(&a, sizeof a, MPI_BYTE, 0, kWorld);
}

// Rank 0 renders with the team: tells every rank the job, then leads.
void leadRender(int ranks, const Plan& plan, int threads, plots::Canvas& canvas,
                NpyArray* classes, const std::function<void(int64_t)>& progress)
{
    // Everything that may fail before the others wait for orders.
    Committer committer(plan, canvas, classes);
    Leader leader(plan, ranks, committer, progress);
    nlohmann::json record;
    ToJson(plan.job, record);
    std::string text = record.dump();

    announce(Announcement{1, 0, threads, static_cast<int>(text.size())});
    MPI_Bcast(text.data(), static_cast<int>(text.size()), MPI_CHAR, 0, kWorld);
    leader.run();
}

// Any other rank: evaluates the tiles it is given until told to stop.
void serve(const Plan& plan)
{
    std::deque<Order> queue;
    bool stopping = false;
    // Results go back without waiting for rank 0 to take them: one buffer is
    // in flight while the next tile is evaluated into the other.
    std::vector<DotResult> buffers[2];
    MPI_Request sent[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
    int which = 0;
    for (;;) {
        for (;;) {
            int arrived = 1;
            if (queue.empty() && !stopping)
                MPI_Probe(0, kOrderTag, kWorld, MPI_STATUS_IGNORE);
            else
                MPI_Iprobe(0, kOrderTag, kWorld, &arrived, MPI_STATUS_IGNORE);
            if (!arrived)
                break;
            Order order;
            MPI_Recv(&order, sizeof order, MPI_BYTE, 0, kOrderTag, kWorld, MPI_STATUS_IGNORE);
            if (order.kind == Order::Evaluate) {
                queue.push_back(order);
            } else {
                stopping = true;
                if (order.kind == Order::Abandon)
                    queue.clear();
            }
        }
        if (queue.empty())
            break;
        const Order order = queue.front();
        queue.pop_front();
        MPI_Wait(&sent[which], MPI_STATUS_IGNORE);
        std::vector<DotResult>& out = buffers[which];
        out.resize(static_cast<size_t>(order.c1 - order.c0) * plan.rows);
        EvaluateTile(plan, order.c0, order.c1, out.data());
        MPI_Isend(out.data(), static_cast<int>(out.size() * sizeof(DotResult)), MPI_BYTE, 0,
                  kResultTag, kWorld, &sent[which]);
        which ^= 1;
    }
    MPI_Waitall(2, sent, MPI_STATUSES_IGNORE);
    MPI_Send(nullptr, 0, MPI_BYTE, 0, kDoneTag, kWorld);
}

int runAsWorker()
{
    for (;;) {
        Announcement a;
        MPI_Bcast(&a, sizeof a, MPI_BYTE, 0, kWorld);
        if (!a.starting)
            return a.status;
        std::string text(static_cast<size_t>(a.jobLength), '\0');
        MPI_Bcast(text.data(), a.jobLength, MPI_CHAR, 0, kWorld);
        try {
            const Plan plan = MakePlan(FromJson(nlohmann::json::parse(text)));
            model::RunThreads threads(ThreadsFor(a.threads));
            threads.run([&] { serve(plan); });
        } catch (const std::exception& e) {
            // Rank 0 checked the same job, so only a broken copy of the
            // program or of the message gets here; the job cannot go on.
            std::cerr << "veltrane-render: a rank cannot take part: " << e.what() << "\n";
            MPI_Abort(kWorld, kExitRunTime);
        }
    }
}

bool set(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

bool LaunchedByMpi()
{
    // Open MPI's mpirun, a PMIx or PMI launcher (srun among them), or a
    // Slurm step of several tasks.
    if (set("OMPI_COMM_WORLD_SIZE") || set("PMIX_RANK") || set("PMI_RANK") || set("PMI_SIZE"))
        return true;
    const char* tasks = std::getenv("SLURM_STEP_NUM_TASKS");
    return set("SLURM_PROCID") && tasks && std::atoi(tasks) > 1;
}

int RunAsRank(int& argc, char**& argv, const std::vector<std::string>& args)
{
    // Only the main thread calls MPI; the engine's threads never do.
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    int rank = 0, ranks = 1;
    MPI_Comm_rank(kWorld, &rank);
    MPI_Comm_size(kWorld, &ranks);

    int status;
    if (rank != 0) {
        status = runAsWorker();
    } else {
        Team team;
        team.processes = ranks;
        // The launcher forwards rank 0's stderr through a pipe; its stdout is
        // a terminal when the launcher's is.
        team.progressShown = ::isatty(STDERR_FILENO) || ::isatty(STDOUT_FILENO);
        team.render = [ranks](const Plan& plan, int threads, plots::Canvas& canvas,
                              NpyArray* classes, const std::function<void(int64_t)>& progress) {
            if (ranks == 1)
                Render(plan, canvas, classes, progress);
            else
                leadRender(ranks, plan, threads, canvas, classes, progress);
        };
        status = Main(args, std::cout, std::cerr, &team);
        std::cout.flush();
        std::cerr.flush();
        if (ranks > 1)
            announce(Announcement{0, status, 0, 0});
    }
    MPI_Finalize();
    return status;
}

} // namespace render
