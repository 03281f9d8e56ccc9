// Events, event groups and task priority levels of one boot
// (UEFI 2.10 sections 7.1 and 7.1.8).
#ifndef ZELM_HOST_EVENTS_H_
#define ZELM_HOST_EVENTS_H_

#include <uefi/UefiSystemTable.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace host {

struct Event {
  UINT32 type = 0;
  EFI_TPL notifyTpl = 0;
  EFI_EVENT_NOTIFY notify = nullptr;
  VOID *context = nullptr;
  bool inGroup = false;
  EFI_GUID group{};
  bool signaled = false;
  bool queued = false;
  bool closed = false;
  bool timerArmed = false;
};

class EventService {
public:
  // Called with every event that is closed, before it is gone.
  std::function<void(EFI_EVENT)> onClose;

  // RaiseTPL: returns the previous level.
  EFI_TPL Raise(EFI_TPL newTpl);
  // RestoreTPL: dispatches pending notifications above OldTpl first.
  void Restore(EFI_TPL oldTpl);
  // CreateEvent / CreateEventEx (Group may be NULL).
  EFI_STATUS Create(UINT32 type, EFI_TPL notifyTpl, EFI_EVENT_NOTIFY notify, VOID *context,
                    const EFI_GUID *group, EFI_EVENT *event);
  EFI_STATUS Signal(EFI_EVENT event);
  EFI_STATUS Close(EFI_EVENT event);
  EFI_STATUS Check(EFI_EVENT event);
  EFI_STATUS SetTimer(EFI_EVENT event, EFI_TIMER_DELAY type);
  // Signals every event of a group, as a short-lived group member would.
  void SignalGroup(const EFI_GUID &group);

  // The open event behind a handle, or NULL.
  Event *Find(EFI_EVENT event) const;
  size_t OpenCount() const { return open_.size(); }
  EFI_TPL Current() const { return current_; }
  // Raises below the current level, restores above it, levels past HIGH_LEVEL.
  size_t Violations() const { return violations_; }

private:
  void MarkSignaled(Event *event);
  void DispatchAbove(EFI_TPL level);

  std::vector<std::unique_ptr<Event>> events_; // closed ones stay, so handles are never reused
  std::map<const VOID *, Event *> open_;
  std::deque<Event *> queues_[TPL_HIGH_LEVEL + 1];
  EFI_TPL current_ = TPL_APPLICATION;
  size_t violations_ = 0;
};

} // namespace host

#endif
