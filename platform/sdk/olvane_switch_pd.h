/* Program-dependent (PD) C interface of the twiceNatAddrPort table of olvane_switch.
 *
 * Two shared objects export it, built from the same sources:
 *   libolvane_switch_pd.so        also exports olvane_switch_bfrt_info_get(), the way to
 *                                 the object-runtime table of a device;
 *   libolvane_switch_pd_nobfrt.so does not: a library loaded from it has no object
 *                                 runtime, and its users fall back to these functions.
 *
 * Every function returns a status, 0 on success (codes in SdkStatus.h). Structures are
 * in host byte order. Padding bytes of the action specs are never read or written. */
#ifndef OLVANE_SWITCH_PD_H
#define OLVANE_SWITCH_PD_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t p4_pd_sess_hdl_t;
typedef uint32_t p4_pd_entry_hdl_t;
typedef int32_t p4_pd_status_t;

/* dev_pipe_id 0xFFFF addresses all pipes of the device. */
typedef struct p4_pd_dev_target {
    uint32_t device_id;
    uint16_t dev_pipe_id;
    uint16_t pad;
} p4_pd_dev_target_t;

typedef struct p4_pd_olvane_switch_twiceNatAddrPort_match_spec {
    uint16_t ing_md_nat_key_id;
    uint16_t l4_port_hdr_src_port;
    uint16_t l4_port_hdr_dst_port;
} p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;

typedef struct p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec {
    uint16_t action_rw_id;
    uint8_t action_prot;
    /* one byte of padding */
    uint16_t action_next_hop;
} p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;

typedef struct p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec {
    uint16_t action_rw_id;
    uint8_t action_prot;
    uint16_t action_next_hop;
} p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t;

typedef struct p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec {
    uint16_t action_rw_id;
    uint8_t action_prot;
    uint16_t action_ecmp_group;
} p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t;

typedef struct p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec {
    uint16_t action_rw_id;
    uint8_t action_prot;
    uint16_t action_ecmp_group;
} p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t;

/* Longest action name written by get_entry, terminating zero included, fits in this. */
#define P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX 64

/* Sessions. Every PD function, and every object-runtime call that takes a session,
 * is served only for a session that is open: any other handle gives 8. client_init
 * opens the lowest free session handle (from 1) and writes it to *sess_hdl; 7 when
 * every session is open, 3 for a NULL sess_hdl. client_cleanup closes a session; 8
 * for one that is not open. The object runtime's session objects are sessions too,
 * open for as long as they live. */
p4_pd_status_t p4_pd_olvane_switch_client_init(p4_pd_sess_hdl_t* sess_hdl);
p4_pd_status_t p4_pd_olvane_switch_client_cleanup(p4_pd_sess_hdl_t sess_hdl);

/* Property 1 is the entry scope: value 0 all pipes, 1 single pipe. Setting the current
 * scope again succeeds; changing it while entries are installed gives 3. Another
 * property gives 17. */
#define P4_PD_OLVANE_SWITCH_PROPERTY_ENTRY_SCOPE 1
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_property(p4_pd_sess_hdl_t sess_hdl,
                                                                 uint32_t dev_id, uint32_t property,
                                                                 uint32_t value);

/* Add: 4 for a key already installed in the pipe, 9 when the table has no room. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec,
    const p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec,
    const p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);

/* Modify: 6 for a handle that is not installed (never installed, deleted, stale). */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t* action_spec);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t* action_spec);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t* action_spec);
p4_pd_status_t
p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t* action_spec);

/* Default action of the scope dev_tgt selects; the handle written is the same each time. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t
p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt,
    const p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t* action_spec,
    p4_pd_entry_hdl_t* entry_hdl);

/* Delete: 6 for a handle that is not installed, 3 for the default entry's handle. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_delete(p4_pd_sess_hdl_t sess_hdl,
                                                                 uint8_t dev_id,
                                                                 p4_pd_entry_hdl_t entry_hdl);

/* Returns the default entry of the scope dev_tgt selects to onMiss. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt);

/* Reads the entry with this handle. action_name receives the zero-terminated action
 * name ("p4_pd_olvane_switch_onMiss", "p4_pd_olvane_switch_twiceNatAddrPortHit", ...)
 * and needs P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX bytes; action_spec receives 6 bytes for
 * a hit action (padding untouched) and is left untouched for onMiss. hit_count may be
 * NULL; entries count no hits here, so it reads 0. is_default is 1 for the default
 * entry, whose match spec reads as zeros. read_from_hw makes no difference. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl, bool read_from_hw,
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec, char* action_name,
    uint8_t* action_spec, uint64_t* hit_count, uint8_t* is_default);

/* Listing the entries of the scope dev_tgt selects (dev_pipe_id 0xFFFF: the all-pipes
 * scope), default entries excluded, in the SDK's order, for tools that audit the table.
 * get_first_entry_handle gives 6 when the scope holds no entry. get_next_entry_handles
 * writes up to n handles of the entries after entry_hdl to next_entry_handles and their
 * number to *returned; 6 when entry_hdl names no entry of the scope. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(p4_pd_sess_hdl_t sess_hdl,
                                                                    p4_pd_dev_target_t dev_tgt,
                                                                    uint32_t* count);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl);
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t entry_hdl, uint32_t n,
    p4_pd_entry_hdl_t* next_entry_handles, uint32_t* returned);
/* The handle of the default entry of the scope dev_tgt selects; it never changes. */
p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl);

/* Object-runtime access, exported by libolvane_switch_pd.so only. Fills *info with the
 * objects of the device (interfaces of bfrt.h): table_intf is a BfRt::BfRtTableIntf*,
 * table the bfrt::OlvaneBfRtTable* of twiceNatAddrPort, second_table and third_table
 * further table objects or NULL. The objects live as long as the process. Returns 3
 * for a device id out of range or a NULL info. */
typedef struct olvane_switch_bfrt_info {
    void* table_intf;
    void* table;
    void* second_table;
    void* third_table;
} olvane_switch_bfrt_info_t;
#define OLVANE_SWITCH_BFRT_INFO_GET_SYMBOL "olvane_switch_bfrt_info_get"
p4_pd_status_t olvane_switch_bfrt_info_get(uint8_t dev_id, olvane_switch_bfrt_info_t* info);
typedef p4_pd_status_t (*olvane_switch_bfrt_info_get_fn)(uint8_t dev_id,
                                                         olvane_switch_bfrt_info_t* info);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(p4_pd_dev_target_t) == 8);
static_assert(offsetof(p4_pd_dev_target_t, dev_pipe_id) == 4);
static_assert(sizeof(p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t) == 6);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t, l4_port_hdr_src_port) ==
              2);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t, l4_port_hdr_dst_port) ==
              4);
static_assert(sizeof(p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t) == 6);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t, action_prot) == 2);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t, action_next_hop) ==
              4);
static_assert(sizeof(p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t) == 6);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t,
                       action_next_hop) == 4);
static_assert(sizeof(p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t) == 6);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t,
                       action_ecmp_group) == 4);
static_assert(sizeof(p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t) == 6);
static_assert(offsetof(p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t,
                       action_ecmp_group) == 4);
#endif

#endif /* OLVANE_SWITCH_PD_H */
