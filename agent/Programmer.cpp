#include "Programmer.h"

namespace NatAgent {

Programmer::Programmer(AgentDevice& device, unsigned retries)
    : device_(device), table_(device.table()), retries_(retries) {}

std::optional<SdkFailure> Programmer::apply(const Step& step) {
    for (unsigned attempt = 0;; ++attempt) {
        try {
            perform(step);
            return std::nullopt;
        } catch (...) {
            SdkFailure failure = currentFailure();
            if (!failure.tryAgain || attempt == retries_) {
                ++counts_.failed;
                return failure;
            }
            ++counts_.retried;
        }
    }
}

void Programmer::perform(const Step& step) {
    switch (step.kind) {
        case StepKind::Add:
            install(step.match, step.action);
            recordHandle(step.match);
            device_.book().insert(step.key, step.match);
            ++counts_.added;
            break;
        case StepKind::Modify:
            install(step.match, step.action);
            ++counts_.modified;
            break;
        case StepKind::Delete:
            remove(step.match);
            device_.book().erase(step.key);
            ++counts_.deleted;
            break;
        case StepKind::ResetDefault:
            resetDefault();
            ++counts_.defaults;
            break;
        case StepKind::Default:
            install(table_.defaultMatchSpec(), step.action);
            recordHandle(table_.defaultMatchSpec());
            forgetRestoredDefault();
            ++counts_.defaults;
            break;
    }
}

void Programmer::remove(const MatchPtr& match) {
    table_.entryDel(match);
    KeyManager& keys = device_.keys();
    if (const auto key = keys.key(match); key != 0) {
        keys.free(key);
    }
    device_.status().statusDel(match);
}

// The table resets its default entry only through its own default match
// spec; an earlier run's default entry is taken over by it first.
void Programmer::resetDefault() {
    const MatchPtr tableDefault = table_.defaultMatchSpec();
    if (!table_.helper()->sdkHandles()->entryHas(tableDefault)) {
        if (!device_.book().restoredDefault()) {
            return;  // never set: nothing to reset
        }
        const TableSchema& schema = device_.schema();
        install(tableDefault, schema.newAction(schema.actions().front()));
        recordHandle(tableDefault);
        forgetRestoredDefault();
    }
    remove(tableDefault);
}

void Programmer::install(const MatchPtr& match, const ActionPtr& action) {
    TableEntry entry(match);
    entry.actionIs(action);
    table_.entryIs(entry);
}

// The table allocated the entry's key; only the agent learns its handle.
void Programmer::recordHandle(const MatchPtr& match) {
    KeyManager& keys = device_.keys();
    if (const auto key = keys.key(match); key != 0) {
        keys.sdkEntryHandleIs(key, table_.helper()->sdkHandles()->entry(match));
    }
}

// After a restart the default entry came back under a read-back match object
// with its own key record. Once the table's default match spec has set the
// entry (and got a record of its own), that object stands for nothing: its
// record and its pair in the handle map go, or the next restart would find
// the default entry twice.
void Programmer::forgetRestoredDefault() {
    MatchPtr old = device_.book().restoredDefaultDel();
    if (!old) {
        return;
    }
    KeyManager& keys = device_.keys();
    if (const auto key = keys.key(old); key != 0) {
        keys.free(key);
    }
    auto& handles = *table_.helper()->sdkHandles();
    Kiv::genericCollection(handles, "entry").del(handles, Kiv::ObjectRef(old));
    device_.status().statusDel(old);
}

}  // namespace NatAgent
