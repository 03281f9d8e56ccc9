// The setting provider registry and the setting groups. Entries and groups
// live as long as the driver; registration order is iteration order.
#ifndef ZELM_SETTINGS_REGISTRY_H_
#define ZELM_SETTINGS_REGISTRY_H_

#include <zelm/ZelmSettingAccess.h>

// "KVSP", "KVSG", "KVSM" in an 8-byte signature field.
constexpr UINT64 kRegistryEntrySignature = 0x5053564B;
constexpr UINT64 kSettingGroupSignature = 0x4753564B;
constexpr UINT64 kGroupMemberSignature = 0x4D53564B;

struct RegistryEntry {
  UINT64 Signature;
  LIST_ENTRY Link;
  ZELM_SETTING_PROVIDER Provider;
};
static_assert(sizeof(RegistryEntry) == 80, "registry entry layout");
static_assert(offsetof(RegistryEntry, Provider) == 24, "registry entry layout");

struct SettingGroup {
  UINT64 Signature;
  const CHAR8 *Id;
  LIST_ENTRY Link;
  LIST_ENTRY Members;
};
static_assert(sizeof(SettingGroup) == 48, "setting group layout");

struct GroupMember {
  UINT64 Signature;
  LIST_ENTRY Link;
  const CHAR8 *Id;
};
static_assert(sizeof(GroupMember) == 32, "group member layout");

// The provider support protocol instance.
extern ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL mProviderSupport;

// Empties the registry and the groups (start-up of a fresh driver).
VOID InitSettingsRegistry(VOID);

// Frees every registry entry, group and member (shut-down after a failed
// start).
VOID ReleaseSettingsRegistry(VOID);

// ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL.RegisterProvider: the entry is
// appended and entered into its groups. EFI_INVALID_PARAMETER (see the
// protocol); EFI_OUT_OF_RESOURCES (pool exhausted, also while entering the
// groups: then nothing stays registered).
EFI_STATUS EFIAPI RegisterProvider(ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *This,
                                   const ZELM_SETTING_PROVIDER *Provider);

// The entry registered under Id, or NULL (always NULL for a NULL Id or one
// that begins with a digit).
RegistryEntry *FindProvider(const CHAR8 *Id);

// Registry iteration in registration order; NULL at the end.
RegistryEntry *FirstProvider(VOID);
RegistryEntry *NextProvider(RegistryEntry *Entry);

// Group iteration in the order groups were formed; NULL at the end.
SettingGroup *FirstGroup(VOID);
SettingGroup *NextGroup(SettingGroup *Group);
// The group named Id, or NULL (also for a NULL Id).
SettingGroup *FindGroup(const CHAR8 *Id);

// The first group after Cursor (NULL: from the start) whose members include
// Id, or NULL.
SettingGroup *NextGroupContaining(const CHAR8 *Id, SettingGroup *Cursor);

// Group member iteration in member order; NULL at the end.
GroupMember *FirstMember(SettingGroup *Group);
GroupMember *NextMember(SettingGroup *Group, GroupMember *Member);

#endif
