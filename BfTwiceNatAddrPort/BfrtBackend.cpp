// The BfRt backend: the table programmed through the BfRt table objects, with
// one reusable key object and one reusable data object per action.

#include <cassert>

#include "BfrtModule.h"
#include "Table.h"

namespace BfTwiceNatAddrPort {

namespace {

BfRtModuleObjects moduleObjects;

constexpr U16 kAllPipes = 0xFFFF;
// Passed unchanged to modify and default-set.
constexpr U64 kEntryFlags = 0x20;
using Operation = TwiceNatAddrPortTable::Operation;

bool isMatchTable(bfrt::TableType type) noexcept {
    return type == bfrt::TableType::MatchDirect || type == bfrt::TableType::MatchIndirect ||
           type == bfrt::TableType::MatchIndirectSelector;
}

bfrt::BfRtTarget bfRtTarget(const TwiceNatAddrPortTableHelper& helper) noexcept {
    return bfrt::BfRtTarget{helper.deviceId(), helper.devPipeId()};
}

// The interface keeps the session alive; callers hold it for one call only.
const bfrt::BfRtSession& bfRtSession(const TwiceNatAddrPortTableHelper& helper) {
    return *helper.pdLib()->bfRtTableIntf()->bfRtSessionGet();
}

// Binds the action's data object on its first use since the last table
// binding, then writes the action's fields into it.
const bfrt::BfRtTableData& actionData(const bfrt::OlvaneBfRtTable& table,
                                      const BfPdTwiceNatAddrPort::BfPdTwiceNatAddrPortIntf& lib,
                                      const TwiceNatAddrPortBaseActionSpec& action) {
    const std::size_t type = action.actionType();
    const BfPdTwiceNatAddrPort::BfRtActionIds& ids = lib.bfRtActionIds(type);
    auto& owner = moduleObjects.actionBfRtData[type];
    if (!moduleObjects.actionBfRtDataBound[type]) {
        checkBfRtCall(table.dataAllocate(&owner));
        checkBfRtCall(table.dataReset(ids.actionId, owner.get()));
        moduleObjects.actionBfRtDataBound[type] = true;
    }
    if (type != onMissActionSpec) {
        const U64 values[] = {action.rwId(), action.prot(), hitActionParam(action)};
        for (std::size_t i = 0; i < ids.dataFieldIds.size(); ++i) {
            checkBfRtCall(owner->setValue(ids.dataFieldIds[i], values[i]));
        }
    }
    return *owner;
}

U64 readField(const bfrt::BfRtTableKey& key, U32 fieldId) {
    U64 value = 0;
    checkBfRtCall(key.getValue(fieldId, &value));
    return value;
}

U64 readField(const bfrt::BfRtTableData& data, U32 fieldId) {
    U64 value = 0;
    checkBfRtCall(data.getValue(fieldId, &value));
    return value;
}

}  // namespace

BfRtModuleObjects& bfRtModuleObjects() noexcept {
    return moduleObjects;
}

void initBfRtTable(const Dorvu::Ptr<TwiceNatAddrPortTableHelper>& helper,
                   bfrt::OlvaneBfRtTable* table) {
    KIV_TRACE(traceHandle(), kTraceLevel, "initBfRtTable");
    const bfrt::BfRtTarget target = bfRtTarget(*helper);
    const bfrt::BfRtSession& session = bfRtSession(*helper);

    bfrt::TableType type;
    checkBfRtCall(table->tableTypeGet(&type));
    BfRtModuleObjects& o = moduleObjects;
    switch (type) {
        case bfrt::TableType::Selector:
            checkBfRtCall(table->keyAllocate(&o.selectorBfRtKey));
            checkBfRtCall(table->dataAllocate(&o.selectorBfRtData));
            break;
        case bfrt::TableType::ActionProfile:
            checkBfRtCall(table->keyAllocate(&o.actionProfileBfRtKey));
            checkBfRtCall(table->dataAllocate(&o.actionProfileBfRtData));
            break;
        default:
            checkBfRtCall(table->keyAllocate(&o.entryBfRtKey));
            checkBfRtCall(table->keyReset(o.entryBfRtKey.get()));
            checkBfRtCall(table->keyAllocate(&o.readBfRtKey));
            checkBfRtCall(table->dataAllocate(&o.readBfRtData));
            o.actionBfRtDataBound.fill(false);
            break;
    }
    // The table only records the target; its status carries nothing to act on.
    table->deviceTargetIs(target);

    if (isMatchTable(type)) {
        std::unique_ptr<bfrt::BfRtTableAttributes> tableAttrScope;
        checkBfRtCall(
            table->attributeAllocate(bfrt::TableAttributesType::EntryScope, &tableAttrScope));
        assert(tableAttrScope);
        const bfrt::TableEntryScope scope = helper->devPipeId() == kAllPipes
                                                ? bfrt::TableEntryScope::AllPipelines
                                                : bfrt::TableEntryScope::SinglePipeline;
        checkBfRtCall(tableAttrScope->entryScopeParamsSet(scope));
        checkBfRtCall(table->tableAttributesSet(session, target, *tableAttrScope));
    }
}

Kiv::MemAllocationTracker TwiceNatAddrPortTableBfrt::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt"};

const Kiv::TypeInfo& TwiceNatAddrPortTableBfrt::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt",
                                    &TwiceNatAddrPortTable::kivTypeInfo(),
                                    {},
                                    {}};
    return type;
}

TwiceNatAddrPortTableBfrt::~TwiceNatAddrPortTableBfrt() {
    notificationIs(false);
}

TwiceNatAddrPortTableBfrt::Ptr TwiceNatAddrPortTableBfrt::TwiceNatAddrPortTableBfrtIs(
    const TwiceNatAddrPortTableHelper::Ptr& helper, const KeyManager::Ptr& zabroKeyManager,
    const StatusManager::Ptr& statusManager) {
    return Kiv::create<TwiceNatAddrPortTableBfrt>(helper, zabroKeyManager, statusManager);
}

TwiceNatAddrPortTableBfrt::Ptr twiceNatAddrPortTableBfrtFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager) {
    return TwiceNatAddrPortTableBfrt::TwiceNatAddrPortTableBfrtIs(helper, zabroKeyManager,
                                                                  statusManager);
}

void TwiceNatAddrPortTableBfrt::initializeTable(const TwiceNatAddrPortTableHelper::Ptr& helper) {
    KIV_TRACE(traceHandle(), kTraceLevel, "initializeTable");
    const auto& lib = *helper->pdLib();
    bfrt::OlvaneBfRtTable* second = lib.secondBfRtTable();
    bfrt::OlvaneBfRtTable* third = lib.thirdBfRtTable();
    initBfRtTable(helper, lib.bfRtTable());
    if (second)
        initBfRtTable(helper, second);
    if (third)
        initBfRtTable(helper, third);
}

void TwiceNatAddrPortTableBfrt::entryIs(const TwiceNatAddrPortTableEntry& entry) {
    assert(entry.action() != NULL);
    assert(entry.match() != NULL);
    KIV_TRACE(traceHandle(), kTraceLevel,
              "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt::entryIs(const "
              "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry&), matchSpec: "
                  << static_cast<const void*>(entry.match().ptr())
                  << ", action: " << entry.action()->actionType());
    const TwiceNatAddrPortTableHelper& h = *helper();
    const auto& lib = *h.pdLib();
    const bfrt::BfRtSession& session = bfRtSession(h);
    const bfrt::OlvaneBfRtTable& table = *lib.bfRtTable();
    const bfrt::BfRtTarget target = bfRtTarget(h);
    const TwiceNatAddrPortMatchSpec::PtrConst& match = entry.match();
    const TwiceNatAddrPortBaseActionSpec& action = *entry.action();
    BfnTable::BfnSdkEntryHandle handle = 0;
    const Operation op = operationFor(match, handle);
    KIV_TRACE(traceHandle(), kTraceLevel, kOperationTraces[static_cast<int>(op)]);

    if (op == Operation::add) {
        bfrt::BfRtTableKey& key = *moduleObjects.entryBfRtKey;
        checkBfRtCall(key.setValue(lib.ingMdNatKeyIdFieldId(), U64{match->ingMdNatKeyId()}));
        checkBfRtCall(key.setValue(lib.l4PortHdrSrcPortFieldId(), U64{match->l4PortHdrSrcPort()}));
        checkBfRtCall(key.setValue(lib.l4PortHdrDstPortFieldId(), U64{match->l4PortHdrDstPort()}));
    }
    if (action.actionType() > twiceNatAddrPortHitEcmpDynamicActionSpec)
        assert(0);

    switch (op) {
        case Operation::modify: {
            const bfrt::BfRtTableData& data = actionData(table, lib, action);
            checkBfRtOperation(table.tableEntryMod(session, target, kEntryFlags, handle, data),
                               "twiceNatAddrPort_tableEntryMod");
            statusInit(match);
            break;
        }
        case Operation::setDefault:
            install(match, op, [&](BfnTable::BfnSdkEntryHandle* entry_hdl) {
                const bfrt::BfRtTableData& data = actionData(table, lib, action);
                checkBfRtOperation(
                    table.tableDefaultEntrySet(session, target, kEntryFlags, data, entry_hdl),
                    "twiceNatAddrPort_tableDefaultEntrySet");
            });
            break;
        case Operation::add:
            install(match, op, [&](BfnTable::BfnSdkEntryHandle* entry_hdl) {
                const bfrt::BfRtTableData& data = actionData(table, lib, action);
                checkBfRtOperation(table.tableEntryAdd(session, target, *moduleObjects.entryBfRtKey,
                                                       data, entry_hdl),
                                   "twiceNatAddrPort_tableEntryAdd");
            });
            break;
    }
}

void TwiceNatAddrPortTableBfrt::entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match) {
    KIV_TRACE(traceHandle(), kTraceLevel,
              "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt::entryDel(const "
              "PtrConst&), matchSpec: "
                  << static_cast<const void*>(match.ptr()));
    // The map's line loads while the match is read.
    helper()->sdkHandles()->entryPrefetch(match);
    // clang-format off
    assert(helper()->sdkHandles()->entryHas( match ));
    // clang-format on
    if (statusManager())
        statusManager()->initStatus(match);
    const TwiceNatAddrPortTableHelper& h = *helper();
    const bfrt::OlvaneBfRtTable& table = *h.pdLib()->bfRtTable();
    const bfrt::BfRtTarget target = bfRtTarget(h);
    // The match leaves the handle map before the SDK call, whatever it returns.
    const BfnTable::BfnSdkEntryHandle entry_hdl = h.sdkHandles()->entryDel(match);
    if (isDefaultMatch(match.ptr())) {
        checkBfRtOperation(table.tableDefaultEntryReset(bfRtSession(h), target),
                           "twiceNatAddrPort_tableDefaultEntryReset");
        return;
    }
    assert(!!entry_hdl);
    checkBfRtOperation(table.tableEntryDel(bfRtSession(h), target, entry_hdl),
                       "twiceNatAddrPort_tableEntryDel");
}

TwiceNatAddrPortTableEntry TwiceNatAddrPortTableBfrt::entryByHandle(
    BfnTable::BfnSdkEntryHandle sdkHandle) const {
    KIV_TRACE(traceHandle(), kTraceLevel, "entryByHandle");
    const TwiceNatAddrPortTableHelper& h = *helper();
    const auto& lib = *h.pdLib();
    const bfrt::BfRtSession& session = bfRtSession(h);
    const bfrt::OlvaneBfRtTable& table = *lib.bfRtTable();
    const bfrt::BfRtTarget target = bfRtTarget(h);
    bfrt::BfRtTableKey& key = *moduleObjects.readBfRtKey;
    bfrt::BfRtTableData& data = *moduleObjects.readBfRtData;

    checkBfRtCall(table.keyReset(&key));
    checkBfRtCall(table.dataReset(&data));
    const U64 flags = 0;
    if (table.tableEntryGet(session, target, flags, sdkHandle, &key, &data) != 0)
        return {};
    U32 actionId = 0;
    checkBfRtCall(data.actionIdGet(&actionId));

    TwiceNatAddrPortMatchSpec::Ptr readMatch = twiceNatAddrPortMatchSpecFactory();
    readMatch->ingMdNatKeyIdIs(static_cast<U16>(readField(key, lib.ingMdNatKeyIdFieldId())));
    readMatch->l4PortHdrSrcPortIs(static_cast<U16>(readField(key, lib.l4PortHdrSrcPortFieldId())));
    readMatch->l4PortHdrDstPortIs(static_cast<U16>(readField(key, lib.l4PortHdrDstPortFieldId())));

    std::size_t type = 0;
    while (type < BfRtModuleObjects::kActions && lib.bfRtActionIds(type).actionId != actionId) {
        ++type;
    }
    if (type == BfRtModuleObjects::kActions)
        return {};

    U16 rwId = 0;
    U8 prot = 0;
    U16 param = 0;
    if (type != onMissActionSpec) {
        const auto& fields = lib.bfRtActionIds(type).dataFieldIds;
        rwId = static_cast<U16>(readField(data, fields[0]));
        prot = static_cast<U8>(readField(data, fields[1]));
        param = static_cast<U16>(readField(data, fields[2]));
    }
    TwiceNatAddrPortTableEntry result(readMatch);
    result.actionIs(
        actionSpecOf(static_cast<TwiceNatAddrPortActionSpecType>(type), rwId, prot, param));
    return result;
}

const Kiv::TypeRegistration registration{&TwiceNatAddrPortTableBfrt::kivTypeInfo};

}  // namespace BfTwiceNatAddrPort
