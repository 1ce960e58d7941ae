#include "Plan.h"

namespace NatAgent {

namespace {

constexpr std::string_view kActionField = "action";

}  // namespace

// One line under check: what has been learnt of it so far and its problems.
struct Planner::LineCheck {
    const ParsedLine& line;
    std::vector<Problem>& problems;
    std::size_t problemsBefore;
    const ActionInfo* action = nullptr;
    Step step;

    void problem(std::string message) { problems.push_back({line.line, std::move(message)}); }
    bool failed() const { return problems.size() > problemsBefore; }
};

Planner::Planner(const TableSchema& schema, const EntryBook& book, bool oncePerInput)
    : schema_(schema), book_(book), oncePerInput_(oncePerInput) {}

std::optional<Step> Planner::plan(const ParsedLine& line, std::vector<Problem>& problems) {
    LineCheck check{line, problems, problems.size(), nullptr, {}};
    check.step.line = line.line;
    checkFields(check);
    if (check.failed()) {
        return std::nullopt;
    }
    if (line.verb != Verb::Default) {
        buildMatch(check);
    }
    if (line.verb != Verb::Del) {
        buildAction(check);
    }
    if (check.failed()) {
        return std::nullopt;
    }
    checkState(check);
    if (check.failed()) {
        return std::nullopt;
    }
    return std::move(check.step);
}

// Which fields the verb takes, and whether every needed one is there.
void Planner::checkFields(LineCheck& check) const {
    const ParsedLine& line = check.line;
    const bool takesKey = line.verb != Verb::Default;
    const bool takesAction = line.verb != Verb::Del;
    if (takesAction) {
        if (const std::string_view* name = line.field(kActionField)) {
            check.action = schema_.action(*name);
            if (check.action == nullptr) {
                std::vector<std::string> names;
                for (const ActionInfo& a : schema_.actions()) {
                    names.push_back(a.name);
                }
                check.problem("unknown action '" + std::string(*name) +
                              "' (actions: " + TableSchema::nameList(names) + ")");
            }
        } else {
            check.problem(std::string(verbName(line.verb)) + " needs action=");
        }
    }
    for (const Field& field : line.fields) {
        const bool isKey = schema_.keyField(field.name) != nullptr;
        if (isKey && !takesKey) {
            check.problem("default takes no key field, not '" + std::string(field.name) + "'");
        } else if (!isKey && !takesAction) {
            check.problem("del takes the key fields only, not '" + std::string(field.name) + "'");
        } else if (!isKey && field.name != kActionField && check.action != nullptr &&
                   schema_.param(*check.action, field.name) == nullptr) {
            std::vector<std::string> params;
            for (const Kiv::AttributeInfo* p : check.action->params) {
                params.emplace_back(p->name);
            }
            check.problem(
                "unknown field '" + std::string(field.name) + "' for action " + check.action->name +
                (params.empty() ? " (it takes none)"
                                : " (its fields: " + TableSchema::nameList(params) + ")"));
        }
    }
    std::vector<std::string> missing;
    if (takesKey) {
        for (const Kiv::AttributeInfo* key : schema_.keyFields()) {
            if (line.field(key->name) == nullptr) {
                missing.emplace_back(key->name);
            }
        }
    }
    if (check.action != nullptr) {
        for (const Kiv::AttributeInfo* param : check.action->params) {
            if (line.field(param->name) == nullptr) {
                missing.emplace_back(param->name);
            }
        }
    }
    if (!missing.empty()) {
        check.problem("missing " + TableSchema::nameList(missing));
    }
}

void Planner::buildMatch(LineCheck& check) const {
    Dorvu::Ptr<MatchSpec> match = schema_.newMatch();
    for (const Kiv::AttributeInfo* key : schema_.keyFields()) {
        const std::string_view value = *check.line.field(key->name);
        try {
            Kiv::genericSetStrep(*match, *key, value);
        } catch (const Kiv::Exception& e) {
            check.problem(std::string(key->name) + "=" + std::string(value) + ": " + e.what());
        }
    }
    check.step.key = schema_.keyOf(*match);
    check.step.match = std::move(match);
}

void Planner::buildAction(LineCheck& check) const {
    Dorvu::Ptr<ActionSpec> action = schema_.newAction(*check.action);
    for (const Kiv::AttributeInfo* param : check.action->params) {
        const std::string_view value = *check.line.field(param->name);
        try {
            Kiv::genericSetStrep(*action, *param, value);
        } catch (const Kiv::Exception& e) {
            check.problem(std::string(param->name) + "=" + std::string(value) + ": " + e.what());
        }
    }
    check.step.action = std::move(action);
}

// Add or modify, against the book; once per input when asked.
void Planner::checkState(LineCheck& check) {
    Step& step = check.step;
    if (check.line.verb == Verb::Default) {
        step.kind = StepKind::Default;
        if (oncePerInput_) {
            if (defaultLine_ != 0) {
                check.problem("default already given on line " + std::to_string(defaultLine_));
                return;
            }
            defaultLine_ = step.line;
        }
        return;
    }
    if (oncePerInput_) {
        auto [seen, inserted] = keyLines_.tryEmplace(step.key, step.line);
        if (!inserted) {
            check.problem("key " + schema_.keyText(step.key) + " already used on line " +
                          std::to_string(*seen));
            return;
        }
    }
    const MatchPtr* installed = book_.find(step.key);
    if (check.line.verb == Verb::Del) {
        if (installed == nullptr) {
            check.problem("no installed entry has key " + schema_.keyText(step.key));
            return;
        }
        step.kind = StepKind::Delete;
        step.match = *installed;
        return;
    }
    if (installed != nullptr) {
        step.kind = StepKind::Modify;
        step.match = *installed;
    } else {
        step.kind = StepKind::Add;
    }
}

}  // namespace NatAgent
