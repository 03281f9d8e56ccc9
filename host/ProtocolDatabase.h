// A handle and protocol database with install notifications
// (UEFI 2.10 section 7.3). Used twice per boot: the boot-services database,
// whose notifications signal events, and the SMM one, whose notifications
// call functions (PI 1.8 volume 4).
#ifndef ZELM_HOST_PROTOCOL_DATABASE_H_
#define ZELM_HOST_PROTOCOL_DATABASE_H_

#include <uefi/Protocol/SmmBase2.h>
#include <uefi/UefiSystemTable.h>

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace host {

// One installed interface, as tests see the database.
struct ProtocolRecord {
  EFI_HANDLE handle = nullptr;
  EFI_GUID guid{};
  VOID *interface = nullptr;
};

class ProtocolDatabase {
public:
  // Signals the event of an event registration.
  std::function<void(EFI_EVENT)> signalEvent;

  EFI_STATUS Install(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                     VOID *interface);
  EFI_STATUS Uninstall(EFI_HANDLE handle, const EFI_GUID *guid, VOID *interface);
  EFI_STATUS Reinstall(EFI_HANDLE handle, const EFI_GUID *guid, VOID *oldInterface,
                       VOID *newInterface);
  EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface) const;
  // RegisterProtocolNotify with an event.
  EFI_STATUS RegisterEvent(const EFI_GUID *guid, EFI_EVENT event, VOID **registration);
  // SmmRegisterProtocolNotify: Function NULL cancels *Registration.
  EFI_STATUS RegisterFunction(const EFI_GUID *guid, EFI_SMM_NOTIFY_FN function,
                              VOID **registration);
  // LocateProtocol; with a registration, the next interface installed since.
  EFI_STATUS LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface);
  // LocateHandle for all three search types.
  EFI_STATUS LocateHandle(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid, VOID *key,
                          UINTN *bufferSize, EFI_HANDLE *buffer);
  // Forgets the registrations tied to Event (it is being closed).
  void DropEventRegistrations(EFI_EVENT event);

  bool IsHandle(EFI_HANDLE handle) const { return FindHandle(handle) != nullptr; }
  // Live handles in creation order.
  std::vector<EFI_HANDLE> Handles() const;
  // GUIDs on a handle in installation order.
  std::vector<EFI_GUID> GuidsOn(EFI_HANDLE handle) const;
  // Every installed interface, by handle creation and installation order.
  std::vector<ProtocolRecord> Records() const;
  // Live registrations (for leak checks of notify registrations).
  size_t RegistrationCount() const;

private:
  struct HandleEntry {
    std::vector<std::pair<EFI_GUID, VOID *>> protocols;
    bool live = true;
  };
  struct Registration {
    EFI_GUID guid{};
    EFI_EVENT event = nullptr;
    EFI_SMM_NOTIFY_FN function = nullptr;
    std::deque<std::pair<EFI_HANDLE, VOID *>> pending; // installs not yet located
    bool live = true;
  };

  HandleEntry *FindHandle(EFI_HANDLE handle) const;
  Registration *FindRegistration(VOID *registration) const;
  void Notify(const EFI_GUID &guid, EFI_HANDLE handle, VOID *interface);
  void ForgetPending(EFI_HANDLE handle, const EFI_GUID &guid);

  // Dead entries stay so that stale handles and registrations never alias
  // new ones.
  std::vector<std::unique_ptr<HandleEntry>> handles_;
  std::vector<std::unique_ptr<Registration>> registrations_;
};

} // namespace host

#endif
