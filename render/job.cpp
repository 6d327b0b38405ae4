#include "render/job.h"

#include "render/options.h"

#include "model/defaults.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace render {

Job DefaultJob()
{
    Job job;
    job.w = model::kDefaultWeights;
    job.iterations = model::kDefaultIterations;
    job.accuracy = model::kDefaultAccuracy;
    job.idx = model::kDefaultPlaneAxes;
    job.range = model::kDefaultPlaneRange;
    job.x0 = model::kDefaultStartPoint;
    job.startValues = model::kDefaultStartValues;
    return job;
}

void Validate(const Job& job)
{
    // Every recorded option counts as read from a record: it may differ from
    // its default only where the mode reads it.
    Request request;
    request.job = job;
    for (const Option& o : Options())
        if (o.recorded)
            request.sources[IndexOf(o)] = Source::Record;
    Check(request);
}

void ToJson(const Job& job, nlohmann::json& out)
{
    Request request;
    request.job = job;
    out["mode"] = ModeName(job.mode);
    nlohmann::json& options = out["options"] = nlohmann::json::object();
    for (const Option& o : Options())
        if (o.recorded && (o.recordedAlways || (Reads(job.mode, o) && RecordedFor(job, o))))
            options[std::string(o.name)] = ValueAsJson(request, o);
}

Job FromJson(const nlohmann::json& in)
{
    Request request;
    MergeJson(request, in);
    Validate(request.job);
    return request.job;
}

} // namespace render
