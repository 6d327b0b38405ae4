#pragma once
// A test's own folder with the renderer run in-process on a command line:
// what the analyses' and the curves' tests share.
#include "render/command_line.h"

#include "tests/test_folder.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class RendererRun : public InTestFolder {
protected:
    // Runs a command line (words separated by blanks) with --quiet; the
    // tables go to `out`, the messages to `errors`, both emptied first.
    int run(const std::string& line)
    {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string w; words >> w;)
            args.push_back(w);
        args.push_back("--quiet");
        out.str("");
        errors.str("");
        return render::Main(args, out, errors);
    }

    nlohmann::json record(const std::string& name)
    {
        std::ifstream in(at(name));
        return nlohmann::json::parse(in);
    }

    std::ostringstream out, errors;
};
