#include "settings/Registry.h"

#include "settings/SettingId.h"
#include "support/List.h"
#include "support/Memory.h"
#include "support/Pool.h"

ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL mProviderSupport = {RegisterProvider};

namespace {

struct GroupRow {
  const CHAR8 *id;
  const CHAR8 *members[3];
};

// Group identifiers and the identifiers of their members.
constexpr GroupRow kGroupTable[] = {
    {"Zelm.OnboardCameras.Enable",
     {"Device.FrontCamera.Enable", "Device.RearCamera.Enable", "Device.IRCamera.Enable"}},
    {"Zelm.BootExternalMedia.Enable", {"Device.USBBoot.Enable", nullptr, nullptr}},
};

// A registry entry and, in the same allocation, its place in the lookup
// index: a packet looks every setting up, so lookups must not walk the list.
struct IndexedEntry {
  RegistryEntry entry;
  IndexedEntry *bucketNext; // next entry of the bucket, in registration order
  UINT32 hash;
};
constexpr UINTN kBuckets = 64;

struct Registry {
  LIST_ENTRY providers;
  LIST_ENTRY groups;
  IndexedEntry *buckets[kBuckets];
};
Registry mRegistry;
static_assert(offsetof(IndexedEntry, entry) == 0, "a registry entry is freed as its allocation");

// FNV-1a over the characters that take part in a comparison.
UINT32 IdHash(const CHAR8 *id) {
  UINT32 hash = 2166136261u;
  for (UINTN i = 0; i < ZELM_SETTING_ID_MAX_LENGTH && id[i] != '\0'; i++) {
    hash = (hash ^ static_cast<UINT8>(id[i])) * 16777619u;
  }
  return hash;
}

VOID AddToIndex(IndexedEntry *indexed) {
  IndexedEntry **slot = &mRegistry.buckets[indexed->hash % kBuckets];
  while (*slot != nullptr) {
    slot = &(*slot)->bucketNext;
  }
  *slot = indexed;
}

RegistryEntry *EntryOf(LIST_ENTRY *link) {
  return link == &mRegistry.providers
             ? nullptr
             : ContainingRecord<RegistryEntry>(link, offsetof(RegistryEntry, Link));
}

SettingGroup *GroupOf(LIST_ENTRY *link) {
  return link == &mRegistry.groups
             ? nullptr
             : ContainingRecord<SettingGroup>(link, offsetof(SettingGroup, Link));
}

BOOLEAN HasMember(SettingGroup *group, const CHAR8 *id) {
  for (GroupMember *m = FirstMember(group); m != nullptr; m = NextMember(group, m)) {
    if (SettingIdEquals(m->Id, id)) {
      return TRUE;
    }
  }
  return FALSE;
}

// Unlinks and frees every member record of Id, and each group left
// without members (a group exists only while it has a member).
VOID RemoveMember(const CHAR8 *id) {
  SettingGroup *group = GroupOf(mRegistry.groups.ForwardLink);
  while (group != nullptr) {
    SettingGroup *nextGroup = GroupOf(group->Link.ForwardLink);
    GroupMember *member = FirstMember(group);
    while (member != nullptr) {
      GroupMember *nextMember = NextMember(group, member);
      if (member->Id == id) {
        RemoveEntryList(&member->Link);
        FreePool(member);
      }
      member = nextMember;
    }
    if (IsListEmpty(&group->Members)) {
      RemoveEntryList(&group->Link);
      FreePool(group);
    }
    group = nextGroup;
  }
}

// Appends Id to every group whose table row names it, creating groups as
// their first member arrives. EFI_NOT_FOUND when no row names it.
EFI_STATUS EnterIntoGroups(const CHAR8 *id) {
  if (FindGroup(id) != nullptr) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS result = EFI_NOT_FOUND;
  for (const GroupRow &row : kGroupTable) {
    BOOLEAN named = FALSE;
    for (const CHAR8 *member : row.members) {
      named = named || (member != nullptr && SettingIdEquals(member, id));
    }
    if (!named) {
      continue;
    }
    SettingGroup *group = FindGroup(row.id);
    BOOLEAN created = group == nullptr;
    if (created) {
      group = static_cast<SettingGroup *>(AllocZeroedPool(sizeof(SettingGroup)));
      if (group == nullptr) {
        return EFI_OUT_OF_RESOURCES;
      }
      group->Signature = kSettingGroupSignature;
      group->Id = row.id;
      InitializeListHead(&group->Members);
      InsertTailList(&mRegistry.groups, &group->Link);
    }
    auto *member = static_cast<GroupMember *>(AllocZeroedPool(sizeof(GroupMember)));
    if (member == nullptr) {
      // A group exists only while it has a member.
      if (created) {
        RemoveEntryList(&group->Link);
        FreePool(group);
      }
      return EFI_OUT_OF_RESOURCES;
    }
    member->Signature = kGroupMemberSignature;
    member->Id = id;
    InsertTailList(&group->Members, &member->Link);
    result = EFI_SUCCESS;
  }
  return result;
}

} // namespace

VOID InitSettingsRegistry(VOID) {
  InitializeListHead(&mRegistry.providers);
  InitializeListHead(&mRegistry.groups);
  ZeroMem(mRegistry.buckets, sizeof(mRegistry.buckets));
}

EFI_STATUS EFIAPI RegisterProvider(ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *This,
                                   const ZELM_SETTING_PROVIDER *Provider) {
  if (This != &mProviderSupport || Provider == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ZELM_SETTING_PROVIDER copy;
  CopyMem(&copy, Provider, sizeof(copy));
  if (!SettingIdFits(copy.Id) || SettingIdStartsWithDigit(copy.Id) ||
      copy.SetSettingValue == nullptr || copy.GetSettingValue == nullptr ||
      copy.GetDefaultValue == nullptr ||
      ((copy.Flags & ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS) != 0 &&
       copy.SetDefaultValue == nullptr) ||
      FindProvider(copy.Id) != nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *indexed = static_cast<IndexedEntry *>(AllocZeroedPool(sizeof(IndexedEntry)));
  if (indexed == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  RegistryEntry *entry = &indexed->entry;
  entry->Signature = kRegistryEntrySignature;
  CopyMem(&entry->Provider, &copy, sizeof(copy));
  InsertTailList(&mRegistry.providers, &entry->Link);
  // A provider outside its group would escape the group's permission entry.
  if (EnterIntoGroups(copy.Id) == EFI_OUT_OF_RESOURCES) {
    RemoveMember(copy.Id);
    RemoveEntryList(&entry->Link);
    FreePool(indexed);
    return EFI_OUT_OF_RESOURCES;
  }
  indexed->hash = IdHash(copy.Id);
  AddToIndex(indexed);
  return EFI_SUCCESS;
}

VOID ReleaseSettingsRegistry(VOID) {
  while (!IsListEmpty(&mRegistry.groups)) {
    SettingGroup *group = GroupOf(mRegistry.groups.ForwardLink);
    while (!IsListEmpty(&group->Members)) {
      GroupMember *member = FirstMember(group);
      RemoveEntryList(&member->Link);
      FreePool(member);
    }
    RemoveEntryList(&group->Link);
    FreePool(group);
  }
  while (!IsListEmpty(&mRegistry.providers)) {
    RegistryEntry *entry = FirstProvider();
    RemoveEntryList(&entry->Link);
    FreePool(entry); // the start of its IndexedEntry
  }
  ZeroMem(mRegistry.buckets, sizeof(mRegistry.buckets));
}

RegistryEntry *FindProvider(const CHAR8 *Id) {
  if (Id == nullptr || SettingIdStartsWithDigit(Id)) {
    return nullptr;
  }
  const UINT32 hash = IdHash(Id);
  for (IndexedEntry *e = mRegistry.buckets[hash % kBuckets]; e != nullptr; e = e->bucketNext) {
    if (e->hash == hash && SettingIdEquals(e->entry.Provider.Id, Id)) {
      return &e->entry;
    }
  }
  return nullptr;
}

RegistryEntry *FirstProvider(VOID) {
  return EntryOf(mRegistry.providers.ForwardLink);
}

RegistryEntry *NextProvider(RegistryEntry *Entry) {
  return EntryOf(Entry->Link.ForwardLink);
}

SettingGroup *FindGroup(const CHAR8 *Id) {
  if (Id == nullptr) {
    return nullptr;
  }
  for (SettingGroup *g = GroupOf(mRegistry.groups.ForwardLink); g != nullptr;
       g = GroupOf(g->Link.ForwardLink)) {
    if (SettingIdEquals(g->Id, Id)) {
      return g;
    }
  }
  return nullptr;
}

SettingGroup *FirstGroup(VOID) {
  return GroupOf(mRegistry.groups.ForwardLink);
}

SettingGroup *NextGroup(SettingGroup *Group) {
  return GroupOf(Group->Link.ForwardLink);
}

SettingGroup *NextGroupContaining(const CHAR8 *Id, SettingGroup *Cursor) {
  if (Id == nullptr) {
    return nullptr;
  }
  LIST_ENTRY *link = Cursor == nullptr ? mRegistry.groups.ForwardLink : Cursor->Link.ForwardLink;
  for (SettingGroup *g = GroupOf(link); g != nullptr; g = GroupOf(g->Link.ForwardLink)) {
    if (HasMember(g, Id)) {
      return g;
    }
  }
  return nullptr;
}

GroupMember *FirstMember(SettingGroup *Group) {
  LIST_ENTRY *link = Group->Members.ForwardLink;
  return link == &Group->Members ? nullptr
                                 : ContainingRecord<GroupMember>(link, offsetof(GroupMember, Link));
}

GroupMember *NextMember(SettingGroup *Group, GroupMember *Member) {
  LIST_ENTRY *link = Member->Link.ForwardLink;
  return link == &Group->Members ? nullptr
                                 : ContainingRecord<GroupMember>(link, offsetof(GroupMember, Link));
}
