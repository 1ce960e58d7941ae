#pragma once
// Stand-ins for the key manager, for suites that drive it from the table
// library: a table config whose walk is a script, and a key manager that logs
// the requests it gets. Both sit on a real (empty) key segment.

#include <optional>
#include <string>
#include <vector>

#include "zabro/Zabro.h"

namespace ZabroTest {

// Walks `records` in the order given, whatever their keys (0 included). The
// request that would hand out record `corruptAt` throws
// Dorvu::CorruptionDetectedException instead; doCorruptionDetected logs.
class ScriptedTableConfig : public Zabro::MbbZabroTableConfig {
    KIV_CLASS(ScriptedTableConfig)

  public:
    using Ptr = Dorvu::Ptr<ScriptedTableConfig>;

    static Ptr ScriptedTableConfigIs(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                     std::vector<EntryConfig> records,
                                     std::optional<std::size_t> corruptAt = std::nullopt);
    ScriptedTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId, std::vector<EntryConfig> records,
                        std::optional<std::size_t> corruptAt);
    ~ScriptedTableConfig() override { notificationIs(false); }

    bool first(EntryConfig& cursor, Zabro::IterHint& hint) const override;
    bool next(EntryKey after, EntryConfig& cursor, Zabro::IterHint& hint) const override;
    void doCorruptionDetected(const Dorvu::String& msg) override;

    // The `after` key of each following-record request, in order.
    mutable std::vector<EntryKey> afterKeys;
    std::vector<Dorvu::String> corruptions;

  private:
    bool handOut(std::size_t index, EntryConfig& cursor) const;

    std::vector<EntryConfig> records_;
    std::optional<std::size_t> corruptAt_;
    mutable std::size_t position_ = 0;
};

// Logs alloc, free, populate and highestAllocatedKeyIs in order. populate is
// only logged (any key is accepted); the others go on to the key manager.
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

    static Ptr RecordingKeyManagerIs(const Zabro::MbbZabroTableConfig::Ptr& tableConfig);
    explicit RecordingKeyManager(const Zabro::MbbZabroTableConfig::Ptr& tableConfig)
        : ZabroKeyManager(tableConfig) {}
    ~RecordingKeyManager() override { notificationIs(false); }

    EntryKey alloc(const MatchPtrConst& match, bool reuseBound) override;
    void free(EntryKey key) override;
    void populate(EntryKey key, const MatchPtrConst& match) override;
    void highestAllocatedKeyIs(EntryKey key) override;

    std::vector<Call> calls;
};

}  // namespace ZabroTest
