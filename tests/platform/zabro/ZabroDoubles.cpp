#include "ZabroDoubles.h"

namespace ZabroTest {

Kiv::MemAllocationTracker ScriptedTableConfig::memAllocationTracker_{
    "ZabroTest::ScriptedTableConfig"};

const Kiv::TypeInfo& ScriptedTableConfig::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "ZabroTest::ScriptedTableConfig", &Zabro::MbbZabroTableConfig::kivTypeInfo(), {}, {}};
    return type;
}

ScriptedTableConfig::Ptr ScriptedTableConfig::ScriptedTableConfigIs(
    Kiv::U8 deviceId, Kiv::U16 pipeId, std::vector<EntryConfig> records,
    std::optional<std::size_t> corruptAt) {
    return Kiv::create<ScriptedTableConfig>(deviceId, pipeId, std::move(records), corruptAt);
}

ScriptedTableConfig::ScriptedTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                         std::vector<EntryConfig> records,
                                         std::optional<std::size_t> corruptAt)
    : MbbZabroTableConfig(deviceId, pipeId, 16),
      records_(std::move(records)),
      corruptAt_(corruptAt) {}

bool ScriptedTableConfig::handOut(std::size_t index, EntryConfig& cursor) const {
    position_ = index;
    if (corruptAt_ == index) {
        throw Dorvu::CorruptionDetectedException(
            Kiv::_fmt("scripted corruption at record %zu", index));
    }
    if (index >= records_.size())
        return false;
    cursor = records_[index];
    return true;
}

bool ScriptedTableConfig::first(EntryConfig& cursor, Zabro::IterHint&) const {
    return handOut(0, cursor);
}

bool ScriptedTableConfig::next(EntryKey after, EntryConfig& cursor, Zabro::IterHint&) const {
    afterKeys.push_back(after);
    return handOut(position_ + 1, cursor);
}

void ScriptedTableConfig::doCorruptionDetected(const Dorvu::String& msg) {
    corruptions.push_back(msg);
}

Kiv::MemAllocationTracker RecordingKeyManager::memAllocationTracker_{
    "ZabroTest::RecordingKeyManager"};

const Kiv::TypeInfo& RecordingKeyManager::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "ZabroTest::RecordingKeyManager", &MbbZabroKey::ZabroKeyManager::kivTypeInfo(), {}, {}};
    return type;
}

RecordingKeyManager::Ptr RecordingKeyManager::RecordingKeyManagerIs(
    const Zabro::MbbZabroTableConfig::Ptr& tableConfig) {
    return Kiv::create<RecordingKeyManager>(tableConfig);
}

RecordingKeyManager::EntryKey RecordingKeyManager::alloc(const MatchPtrConst& match,
                                                         bool reuseBound) {
    const EntryKey key = ZabroKeyManager::alloc(match, reuseBound);
    calls.push_back({"alloc", key, match});
    return key;
}

void RecordingKeyManager::free(EntryKey key) {
    calls.push_back({"free", key, nullptr});
    ZabroKeyManager::free(key);
}

void RecordingKeyManager::populate(EntryKey key, const MatchPtrConst& match) {
    calls.push_back({"populate", key, match});
}

void RecordingKeyManager::highestAllocatedKeyIs(EntryKey key) {
    calls.push_back({"highestAllocatedKeyIs", key, nullptr});
    ZabroKeyManager::highestAllocatedKeyIs(key);
}

}  // namespace ZabroTest
