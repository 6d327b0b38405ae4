#include "render/job.h"

#include "render/options.h"

#include "model/numbers.h"
#include "model/window.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace render {

Job DefaultJob()
{
    using model::Control;
    using model::DefaultText;
    Job job;
    for (int i = 0; i < 6; ++i)
        job.w[i] = model::ReadNumber(DefaultText(model::txtW(i)));
    job.iterations = model::Floor16(model::ReadNumber(DefaultText(Control::txtIterations)));
    job.accuracy = model::Floor16(model::ReadNumber(DefaultText(Control::txtAccuracy)));
    job.idx = {model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtIdx0))),
               model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtIdx1)))};
    for (int i = 0; i < 4; ++i)
        job.range[i] = model::ReadNumber(DefaultText(model::txtP(i)));
    for (int i = 0; i < 2; ++i)
        job.x0[i] = model::ReadNumber(DefaultText(model::txtX0(i)));
    job.startValues =
        model::RoundHalfEven16(model::ReadNumber(DefaultText(Control::txtNumStartValues)));
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
        if (o.recorded && (o.recordedAlways || Reads(job.mode, o)))
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
