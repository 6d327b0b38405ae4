#include "render/introspection.h"

#include "render/job.h"
#include "render/options.h"

#include <nlohmann/json.hpp>

#include <map>
#include <vector>

namespace render {

namespace {

const char* kindName(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Number: return "number";
    case ValueKind::WholeNumber: return "whole number";
    case ValueKind::Flag: return "flag";
    case ValueKind::Choice: return "choice";
    case ValueKind::File: return "file";
    }
    return "";
}

// The names an option answers to on the command line.
std::vector<std::string> namesOf(const Option& o)
{
    std::vector<std::string> names = {Flagged(o)};
    if (o.kind == ValueKind::Flag)
        names.push_back("--no-" + std::string(o.name));
    if (o.shortName)
        names.push_back(std::string("-") + o.shortName);
    return names;
}

// A word list as a single-quoted bash word; the table's words hold no quote.
std::string quoted(const std::vector<std::string>& words)
{
    std::string text = "'";
    for (const std::string& w : words)
        text += (text.size() > 1 ? " " : "") + w;
    return text + "'";
}

} // namespace

std::string OptionsJson()
{
    nlohmann::json modes = nlohmann::json::array();
    for (Mode m : AllModes())
        modes.push_back(ModeName(m));
    nlohmann::json options = nlohmann::json::array();
    for (const Option& o : Options()) {
        nlohmann::json readBy = nlohmann::json::array();
        nlohmann::json ranges = nlohmann::json::object();
        for (Mode m : AllModes())
            if (Reads(m, o)) {
                readBy.push_back(ModeName(m));
                if (const std::string range = RangeText(m, o); !range.empty())
                    ranges[ModeName(m)] = range;
            }
        nlohmann::json choices = nlohmann::json::array();
        for (std::string_view c : o.choices)
            choices.push_back(std::string(c));
        options.push_back({
            {"name", std::string(o.name)},
            {"short", o.shortName ? std::string(1, o.shortName) : std::string()},
            {"kind", kindName(o.kind)},
            {"arity", o.arity},
            {"values", std::string(o.valueNames)},
            {"help", std::string(o.help)},
            {"modes", readBy},
            {"default", o.kind == ValueKind::File ? std::string() : DefaultText(o)},
            {"range", RangeText(o)},
            {"ranges", ranges},
            {"choices", choices},
        });
    }
    return nlohmann::json{{"modes", modes}, {"options", options}}.dump(2) + "\n";
}

std::string BashCompletion()
{
    std::vector<std::string> modes, all = {"--help"};
    for (Mode m : AllModes())
        modes.push_back(ModeName(m));
    std::map<std::string, std::vector<std::string>> byMode;
    std::string arity, values;
    for (const Option& o : Options()) {
        // What the values complete to: a file name, the option's words, or
        // nothing (a number).
        std::string offer;
        if (o.kind == ValueKind::File)
            offer = "FILE";
        for (std::string_view c : o.choices)
            offer += (offer.empty() ? "" : " ") + std::string(c);
        for (const std::string& name : namesOf(o)) {
            arity += " [" + name + "]=" + std::to_string(o.kind == ValueKind::Flag ? 0 : o.arity);
            if (!offer.empty())
                values += " [" + name + "]='" + offer + "'";
            if (name.rfind("--", 0) != 0)
                continue;
            all.push_back(name);
            for (Mode m : AllModes())
                if (Reads(m, o))
                    byMode[ModeName(m)].push_back(name);
        }
    }
    std::string perMode;
    for (const std::string& m : modes) {
        std::vector<std::string> names = {"--help"};
        names.insert(names.end(), byMode[m].begin(), byMode[m].end());
        perMode += " [" + m + "]=" + quoted(names);
    }

    return "# bash completion for veltrane-render, written by veltrane-render --completion bash\n"
           "# from its option table.\n"
           "\n"
           "_veltrane_render()\n"
           "{\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]}\n"
           "    local modes=" + quoted(modes) + "\n"
           "    local all=" + quoted(all) + "\n"
           "    local -A arity=(" + arity + " )\n"
           "    local -A values=(" + values + " )\n"
           "    local -A options_of=(" + perMode + " )\n"
           "    COMPREPLY=()\n"
           "    # The words before the cursor: the mode, and how many values the last\n"
           "    # option still takes.\n"
           "    local i word mode= option= pending=0\n"
           "    for ((i = 1; i < COMP_CWORD; ++i)); do\n"
           "        word=${COMP_WORDS[i]}\n"
           "        if ((pending > 0)); then\n"
           "            ((--pending))\n"
           "        elif [[ $word == -* ]]; then\n"
           "            option=$word\n"
           "            pending=${arity[$option]:-0}\n"
           "        elif [[ -z $mode && \" $modes \" == *\" $word \"* ]]; then\n"
           "            mode=$word\n"
           "        fi\n"
           "    done\n"
           "    if ((pending > 0)); then\n"
           "        case ${values[$option]:-} in\n"
           "        FILE) compopt -o default 2>/dev/null ;;\n"
           "        '') ;;\n"
           "        *) COMPREPLY=($(compgen -W \"${values[$option]}\" -- \"$cur\")) ;;\n"
           "        esac\n"
           "        return\n"
           "    fi\n"
           "    if [[ $cur == -* ]]; then\n"
           "        local offered=$all\n"
           "        [[ -n $mode ]] && offered=${options_of[$mode]}\n"
           "        COMPREPLY=($(compgen -W \"$offered\" -- \"$cur\"))\n"
           "    elif [[ -z $mode ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$modes\" -- \"$cur\"))\n"
           "    else\n"
           "        compopt -o default 2>/dev/null\n"
           "    fi\n"
           "}\n"
           "complete -F _veltrane_render veltrane-render\n";
}

} // namespace render
