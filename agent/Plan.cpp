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

// Which fields the verb takes, and whether every needed one is there; each
// value is noted under its key field or parameter for the builders.
void Planner::checkFields(LineCheck& check) {
    const ParsedLine& line = check.line;
    const bool takesKey = line.verb != Verb::Default;
    const bool takesAction = line.verb != Verb::Del;
    keyValues_.assign(schema_.keyFields().size(), nullptr);
    paramValues_.clear();
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
            } else {
                paramValues_.assign(check.action->params.size(), nullptr);
            }
        } else {
            check.problem(std::string(verbName(line.verb)) + " needs action=");
        }
    }
    for (const Field& field : line.fields) {
        const int key = schema_.keyIndex(field.name);
        if (key >= 0 && !takesKey) {
            check.problem("default takes no key field, not '" + std::string(field.name) + "'");
        } else if (key < 0 && !takesAction) {
            check.problem("del takes the key fields only, not '" + std::string(field.name) + "'");
        } else if (key >= 0) {
            keyValues_[static_cast<std::size_t>(key)] = &field.value;
        } else if (field.name != kActionField && check.action != nullptr) {
            const int param = TableSchema::paramIndex(*check.action, field.name);
            if (param >= 0) {
                paramValues_[static_cast<std::size_t>(param)] = &field.value;
                continue;
            }
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
    for (std::size_t i = 0; takesKey && i < keyValues_.size(); ++i) {
        if (keyValues_[i] == nullptr) {
            missing.emplace_back(schema_.keyFields()[i]->name);
        }
    }
    for (std::size_t i = 0; i < paramValues_.size(); ++i) {
        if (paramValues_[i] == nullptr) {
            missing.emplace_back(check.action->params[i]->name);
        }
    }
    if (!missing.empty()) {
        check.problem("missing " + TableSchema::nameList(missing));
    }
}

// Sets `attributes` of `object` from the text of `values`, a problem for each
// value that does not suit its attribute.
void Planner::setFields(LineCheck& check, Kiv::PtrInterface& object,
                        const std::vector<const Kiv::AttributeInfo*>& attributes,
                        const std::vector<const std::string_view*>& values) const {
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        try {
            Kiv::genericSetStrep(object, *attributes[i], *values[i]);
        } catch (const Kiv::Exception& e) {
            check.problem(std::string(attributes[i]->name) + "=" + std::string(*values[i]) + ": " +
                          e.what());
        }
    }
}

void Planner::buildMatch(LineCheck& check) const {
    Dorvu::Ptr<MatchSpec> match = schema_.newMatch();
    setFields(check, *match, schema_.keyFields(), keyValues_);
    check.step.key = schema_.keyOf(*match);
    check.step.match = std::move(match);
}

void Planner::buildAction(LineCheck& check) const {
    Dorvu::Ptr<ActionSpec> action = schema_.newAction(*check.action);
    setFields(check, *action, check.action->params, paramValues_);
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
