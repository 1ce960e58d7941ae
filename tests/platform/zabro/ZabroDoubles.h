#pragma once
// Stand-ins for the key manager, on a real (empty) key segment: a table config
// whose walk is a script, and a key manager that logs the requests it gets.

#include <optional>
#include <string>
#include <vector>

#include "zabro/Zabro.h"

namespace ZabroTest {

// Walks `records` in the order given, whatever their keys (0 included); handing
// out record `corruptAt` throws instead, and doCorruptionDetected logs.
class ScriptedTableConfig : public Zabro::MbbZabroTableConfig {
    KIV_CLASS(ScriptedTableConfig)

  public:
    using Ptr = Dorvu::Ptr<ScriptedTableConfig>;

    static Ptr ScriptedTableConfigIs(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                     std::vector<EntryConfig> records,
                                     std::optional<std::size_t> corruptAt = std::nullopt) {
        return Kiv::create<ScriptedTableConfig>(deviceId, pipeId, std::move(records), corruptAt);
    }
    ScriptedTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId, std::vector<EntryConfig> records,
                        std::optional<std::size_t> corruptAt)
        : MbbZabroTableConfig(deviceId, pipeId, 16),
          records_(std::move(records)),
          corruptAt_(corruptAt) {}
    ~ScriptedTableConfig() override { notificationIs(false); }

    bool first(EntryConfig& cursor, Zabro::IterHint&) const override { return handOut(0, cursor); }
    bool next(EntryKey after, EntryConfig& cursor, Zabro::IterHint&) const override {
        afterKeys.push_back(after);
        return handOut(position_ + 1, cursor);
    }
    void doCorruptionDetected(const Dorvu::String& msg) override { corruptions.push_back(msg); }

    // The `after` key of each following-record request, in order.
    mutable std::vector<EntryKey> afterKeys;
    std::vector<Dorvu::String> corruptions;

  private:
    bool handOut(std::size_t index, EntryConfig& cursor) const {
        position_ = index;
        if (corruptAt_ == index)
            throw Dorvu::CorruptionDetectedException(
                Kiv::_fmt("scripted corruption at record %zu", index));
        if (index >= records_.size())
            return false;
        cursor = records_[index];
        return true;
    }

    std::vector<EntryConfig> records_;
    std::optional<std::size_t> corruptAt_;
    mutable std::size_t position_ = 0;
};

inline Kiv::MemAllocationTracker ScriptedTableConfig::memAllocationTracker_{
    "ZabroTest::ScriptedTableConfig"};
inline const Kiv::TypeInfo& ScriptedTableConfig::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "ZabroTest::ScriptedTableConfig", &Zabro::MbbZabroTableConfig::kivTypeInfo(), {}, {}};
    return type;
}

// Logs alloc, free, populate and highestAllocatedKeyIs in order; all but
// populate (which accepts any key) go on to the key manager.
class RecordingKeyManager : public MbbZabroKey::ZabroKeyManager {
    KIV_CLASS(RecordingKeyManager)

  public:
    using Ptr = Dorvu::Ptr<RecordingKeyManager>;

    struct Call {
        std::string request;
        EntryKey key;
        MatchPtrConst match;
        bool operator==(const Call&) const = default;
    };

    static Ptr RecordingKeyManagerIs(const Zabro::MbbZabroTableConfig::Ptr& tableConfig) {
        return Kiv::create<RecordingKeyManager>(tableConfig);
    }
    explicit RecordingKeyManager(const Zabro::MbbZabroTableConfig::Ptr& tableConfig)
        : ZabroKeyManager(tableConfig) {}
    ~RecordingKeyManager() override { notificationIs(false); }

    EntryKey alloc(const MatchPtrConst& match, bool reuseBound) override {
        const EntryKey key = ZabroKeyManager::alloc(match, reuseBound);
        calls.push_back({"alloc", key, match});
        return key;
    }
    void free(EntryKey key) override {
        calls.push_back({"free", key, nullptr});
        ZabroKeyManager::free(key);
    }
    void populate(EntryKey key, const MatchPtrConst& match) override {
        calls.push_back({"populate", key, match});
    }
    void highestAllocatedKeyIs(EntryKey key) override {
        calls.push_back({"highestAllocatedKeyIs", key, nullptr});
        ZabroKeyManager::highestAllocatedKeyIs(key);
    }
    Zabro::MbbZabroTableConfig::Ptr mbbZabroTableConfig() const noexcept override {
        return withoutConfig ? nullptr : ZabroKeyManager::mbbZabroTableConfig();
    }

    std::vector<Call> calls;
    bool withoutConfig = false;  // stands for a key manager that has no table config
};

inline Kiv::MemAllocationTracker RecordingKeyManager::memAllocationTracker_{
    "ZabroTest::RecordingKeyManager"};
inline const Kiv::TypeInfo& RecordingKeyManager::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "ZabroTest::RecordingKeyManager", &MbbZabroKey::ZabroKeyManager::kivTypeInfo(), {}, {}};
    return type;
}

}  // namespace ZabroTest
