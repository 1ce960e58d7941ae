#include "ProgramRun.h"

#include <istream>
#include <ostream>

#include "InputLines.h"
#include "Plan.h"
#include "Progress.h"

namespace NatAgent {

namespace {

constexpr std::size_t kFailedLinesShown = 10;

const char* stepName(StepKind kind) {
    switch (kind) {
        case StepKind::Add:
            return "add";
        case StepKind::Modify:
            return "modify";
        case StepKind::Delete:
            return "del";
        case StepKind::Default:
            return "default";
        case StepKind::ResetDefault:
            return "default reset";
    }
    return "?";
}

class Reporter {
  public:
    Reporter(const ProgramSettings& settings, std::ostream& errors)
        : settings_(settings), errors_(errors) {}

    void problems(const std::vector<Problem>& found) {
        for (const Problem& p : found) {
            errors_ << settings_.source << ':' << p.line << ": " << p.message << '\n';
        }
    }
    void failure(const Step& step, const SdkFailure& failure) {
        errors_ << settings_.source << ':' << step.line << ": " << stepName(step.kind)
                << " failed: " << failure.text() << '\n';
    }

  private:
    const ProgramSettings& settings_;
    std::ostream& errors_;
};

// Parses and plans one physical line; true when it yields a step.
bool planLine(Planner& planner, InputParser& parser, std::string_view text, unsigned number,
              Step& step, std::vector<Problem>& problems) {
    std::optional<ParsedLine> parsed;
    try {
        parsed = parser.parse(text, number);
    } catch (const LineError& e) {
        problems.push_back({number, e.what()});
        return false;
    }
    if (!parsed) {
        return false;
    }
    std::optional<Step> planned = planner.plan(*parsed, problems);
    if (!planned) {
        return false;
    }
    step = std::move(*planned);
    return true;
}

// Applies one step; false when the run must stop.
bool applyStep(Programmer& programmer, const Step& step, const ProgramSettings& settings,
               Reporter& reporter, ProgramReport& report) {
    if (std::optional<SdkFailure> failure = programmer.apply(step)) {
        reporter.failure(step, *failure);
        report.failedLines.push_back(step.line);
        return settings.keepGoing;
    }
    return true;
}

}  // namespace

void countPlanned(StepKind kind, ProgramCounts& counts) {
    switch (kind) {
        case StepKind::Add:
            ++counts.added;
            break;
        case StepKind::Modify:
            ++counts.modified;
            break;
        case StepKind::Delete:
            ++counts.deleted;
            break;
        case StepKind::Default:
        case StepKind::ResetDefault:
            ++counts.defaults;
            break;
    }
}

ProgramReport programBatch(AgentDevice& device, std::string_view text,
                           const ProgramSettings& settings, std::ostream& errors) {
    Reporter reporter(settings, errors);
    ProgramReport report;
    Planner planner(device.schema(), device.book(), true);
    InputParser parser;
    std::vector<Step> steps;
    std::vector<Problem> problems;
    // The whole input is checked before any of it is applied; the lines
    // are taken apart where they lie.
    forEachLine(text, [&](std::string_view line, unsigned number) {
        const std::size_t before = problems.size();
        Step step;
        if (planLine(planner, parser, line, number, step, problems)) {
            steps.push_back(std::move(step));
        }
        report.problems += problems.size() > before ? 1 : 0;
    });
    if (!problems.empty()) {
        reporter.problems(problems);
        return report;
    }
    if (settings.dryRun) {
        for (const Step& step : steps) {
            countPlanned(step.kind, report.counts);
        }
        return report;
    }
    if (!steps.empty()) {
        device.book().reserve(device.book().size() + steps.size());
    }
    Programmer programmer(device, settings.retries);
    {
        ProgressBar progress(settings.progressLabel,
                             settings.progressLabel.empty() ? 0 : steps.size());
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (!applyStep(programmer, steps[i], settings, reporter, report)) {
                report.notRun = steps.size() - i - 1;
                break;
            }
            progress.advance();
        }
    }
    report.counts = programmer.counts();
    return report;
}

ProgramReport programStream(AgentDevice& device, std::istream& in, const ProgramSettings& settings,
                            std::ostream& errors) {
    Reporter reporter(settings, errors);
    ProgramReport report;
    Planner planner(device.schema(), device.book(), false);
    InputParser parser;
    Programmer programmer(device, settings.retries);
    std::string text;
    for (unsigned number = 1; std::getline(in, text); ++number) {
        std::vector<Problem> problems;
        Step step;
        if (!planLine(planner, parser, text, number, step, problems)) {
            reporter.problems(problems);
            report.problems += problems.empty() ? 0 : 1;
            if (!problems.empty() && !settings.keepGoing) {
                break;
            }
            continue;
        }
        if (!applyStep(programmer, step, settings, reporter, report)) {
            break;
        }
    }
    report.counts = programmer.counts();
    return report;
}

std::string summaryText(const ProgramReport& report) {
    const ProgramCounts& c = report.counts;
    std::string text;
    auto part = [&text](std::uint64_t n, const std::string& what) {
        if (n > 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        }
    };
    part(c.added, "added");
    part(c.modified, "modified");
    part(c.deleted, "deleted");
    part(c.defaults, "default set");
    part(report.problems, report.problems == 1 ? "bad line" : "bad lines");
    if (c.failed > 0) {
        std::string lines;
        for (std::size_t i = 0; i < report.failedLines.size() && i < kFailedLinesShown; ++i) {
            lines += (i > 0 ? ", " : "") + std::to_string(report.failedLines[i]);
        }
        if (report.failedLines.size() > kFailedLinesShown) {
            lines += ", ...";
        }
        part(c.failed, std::string("failed (line") + (c.failed == 1 ? " " : "s ") + lines + ")");
    }
    part(report.notRun, "not run");
    part(c.retried, "retried");
    return text.empty() ? "nothing changed" : text;
}

}  // namespace NatAgent
