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
        case StepKind::Delete: {
            table_.entryDel(step.match);
            KeyManager& keys = device_.keys();
            if (const auto key = keys.key(step.match); key != 0) {
                keys.free(key);
            }
            device_.status().statusDel(step.match);
            device_.book().erase(step.key);
            ++counts_.deleted;
            break;
        }
        case StepKind::Default:
            install(table_.defaultMatchSpec(), step.action);
            recordHandle(table_.defaultMatchSpec());
            forgetRestoredDefault();
            ++counts_.defaults;
            break;
    }
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
