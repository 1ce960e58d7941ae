#include "SyncPlan.h"

#include <algorithm>
#include <unordered_map>

#include "InputLines.h"
#include "ReadBack.h"

namespace NatAgent {

namespace {

bool sameAction(const EntryFields& a, const EntryFields& b) {
    return a.actionType == b.actionType && a.params == b.params;
}

int order(StepKind kind) {
    switch (kind) {
        case StepKind::Delete:
            return 0;
        case StepKind::Modify:
            return 1;
        case StepKind::Add:
            return 2;
        case StepKind::Default:
        case StepKind::ResetDefault:
            return 3;
    }
    return 4;
}

}  // namespace

SyncPlan planSync(AgentDevice& device, std::string_view text) {
    const TableSchema& schema = device.schema();
    // Entries that cannot be read back are there with unknown fields: named
    // in the file they are modified, otherwise deleted.
    std::unordered_map<MatchKey, std::optional<EntryFields>> installed;
    std::optional<EntryFields> installedDefault;
    for (const ReadBackEntry& e : readBackEntries(device)) {
        if (e.isDefault) {
            installedDefault = e.fields;
        } else {
            installed.emplace(e.key, e.fields);
        }
    }

    SyncPlan plan;
    Planner planner(schema, device.book(), true);
    InputParser parser;
    forEachLine(text, [&](std::string_view line, unsigned number) {
        std::optional<ParsedLine> parsed;
        try {
            parsed = parser.parse(line, number);
        } catch (const LineError& e) {
            plan.problems.push_back({number, e.what()});
            return;
        }
        if (!parsed) {
            return;
        }
        if (parsed->verb == Verb::Del) {
            plan.problems.push_back(
                {number, "sync takes add and default lines; leave an entry out to delete it"});
            return;
        }
        std::optional<Step> step = planner.plan(*parsed, plan.problems);
        if (!step) {
            return;
        }
        const MatchPtr match =
            step->match ? step->match : MatchPtr(device.table().defaultMatchSpec());
        EntryFields after = schema.fieldsOf(*match, *step->action);
        SyncStep change{std::move(*step), std::move(after), std::nullopt};
        if (change.step.kind == StepKind::Default) {
            change.before = installedDefault;
            if (installedDefault && sameAction(*installedDefault, change.after)) {
                return;
            }
        } else if (auto found = installed.find(change.step.key); found != installed.end()) {
            change.before = found->second;
            installed.erase(found);
            if (change.step.kind == StepKind::Modify && change.before &&
                sameAction(*change.before, change.after)) {
                return;
            }
        }
        plan.steps.push_back(std::move(change));
    });
    if (!plan.problems.empty()) {
        plan.steps.clear();
        return plan;
    }
    // What the file does not name goes, in key order.
    std::vector<MatchKey> gone;
    for (const auto& [key, fields] : installed) {
        gone.push_back(key);
    }
    std::sort(gone.begin(), gone.end());
    for (const MatchKey key : gone) {
        Step step{0, StepKind::Delete, key, *device.book().find(key), nullptr};
        plan.steps.push_back({std::move(step), {}, installed.at(key)});
    }
    std::stable_sort(plan.steps.begin(), plan.steps.end(),
                     [](const SyncStep& a, const SyncStep& b) {
                         return order(a.step.kind) < order(b.step.kind);
                     });
    return plan;
}

std::string syncLine(const TableSchema& schema, const SyncStep& change) {
    switch (change.step.kind) {
        case StepKind::Add:
            return "+ add " + schema.keyText(change.step.key) + " " +
                   schema.actionText(change.after);
        case StepKind::Modify:
            return "~ add " + schema.keyText(change.step.key) + " " +
                   schema.actionText(change.after);
        case StepKind::Delete:
            return change.before ? "- add " + schema.keyText(change.step.key) + " " +
                                       schema.actionText(*change.before)
                                 : "- del " + schema.keyText(change.step.key);
        case StepKind::Default:
            return "~ default " + schema.actionText(change.after);
        case StepKind::ResetDefault:
            return "- default";
    }
    return "?";
}

std::optional<Step> undoStep(const TableSchema& schema, const SyncStep& change) {
    const Step& done = change.step;
    if (done.kind == StepKind::Add) {
        return Step{done.line, StepKind::Delete, done.key, done.match, nullptr};
    }
    if (done.kind == StepKind::Default || done.kind == StepKind::ResetDefault) {
        return change.before
                   ? Step{done.line, StepKind::Default, 0, nullptr, schema.actionOf(*change.before)}
                   : Step{done.line, StepKind::ResetDefault, 0, nullptr, nullptr};
    }
    if (!change.before) {
        return std::nullopt;  // an entry that could not be read back
    }
    if (done.kind == StepKind::Modify) {
        return Step{done.line, StepKind::Modify, done.key, done.match,
                    schema.actionOf(*change.before)};
    }
    return Step{done.line, StepKind::Add, done.key, schema.matchOf(done.key),
                schema.actionOf(*change.before)};
}

}  // namespace NatAgent
