// Any text read as a job record either gives a request or a usage error of
// one short line; text the record check passes is JSON the library reads;
// and every file name survives the record's way of storing it.
#include "fuzz/message_check.h"
#include "model/errors.h"
#include "render/options.h"
#include "render/record.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const nlohmann::json record = render::ParseRecord(text);
        render::Request request;
        request.from = "fuzz.json";
        render::MergeJson(request, record);
        render::Check(request);
    } catch (const model::UsageError& e) {
        // The check let through what the library then refused.
        if (std::string(e.what()) == "the record cannot be read as JSON.")
            std::abort();
        CheckMessage(e.what());
    }
    // The same bytes as a file name: stored and read back unchanged.
    const std::string stored = render::PathToJson(text).dump();
    if (render::PathFromJson(nlohmann::json::parse(stored), "picture") != text)
        std::abort();
    return 0;
}
