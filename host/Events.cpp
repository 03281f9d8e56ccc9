#include "host/Events.h"

#include <uefi/UefiGuids.h>

#include <algorithm>

#include "host/HostPlatform.h"

namespace host {

namespace {

// The two special signal types are whole values; other types combine these.
constexpr UINT32 kCombinableTypes = EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL;

bool IsValidType(UINT32 type) {
  return type == EVT_SIGNAL_EXIT_BOOT_SERVICES || type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE ||
         (type & ~kCombinableTypes) == 0;
}

} // namespace

EFI_TPL EventService::Raise(EFI_TPL newTpl) {
  EFI_TPL old = current_;
  if (newTpl < current_ || newTpl > TPL_HIGH_LEVEL) {
    violations_++;
    return old;
  }
  current_ = newTpl;
  return old;
}

void EventService::Restore(EFI_TPL oldTpl) {
  if (oldTpl > current_) {
    violations_++;
    return;
  }
  DispatchAbove(oldTpl);
  current_ = oldTpl;
}

// Runs queued notifications whose level is above Level, highest level
// first and in signalling order within a level, each at its own level.
void EventService::DispatchAbove(EFI_TPL level) {
  EFI_TPL saved = current_;
  for (;;) {
    EFI_TPL highest = 0;
    for (EFI_TPL t = TPL_HIGH_LEVEL; t > level; t--) {
      if (!queues_[t].empty()) {
        highest = t;
        break;
      }
    }
    if (highest == 0) {
      break;
    }
    current_ = highest;
    while (!queues_[highest].empty()) {
      Event *event = queues_[highest].front();
      queues_[highest].pop_front();
      event->queued = false;
      if ((event->type & EVT_NOTIFY_SIGNAL) != 0) {
        event->signaled = false;
      }
      EFI_EVENT_NOTIFY notify = event->notify;
      VOID *context = event->context;
      // The notify function may close its own event; nothing touches it after.
      notify(static_cast<EFI_EVENT>(event), context);
    }
  }
  current_ = std::max(saved, level);
}

EFI_STATUS EventService::Create(UINT32 type, EFI_TPL notifyTpl, EFI_EVENT_NOTIFY notify,
                                VOID *context, const EFI_GUID *group, EFI_EVENT *event) {
  if (event == nullptr || !IsValidType(type)) {
    return EFI_INVALID_PARAMETER;
  }
  if ((type & EVT_NOTIFY_SIGNAL) != 0 && (type & EVT_NOTIFY_WAIT) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  bool notifies = (type & (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT)) != 0;
  if (notifies &&
      (notify == nullptr || notifyTpl <= TPL_APPLICATION || notifyTpl >= TPL_HIGH_LEVEL)) {
    return EFI_INVALID_PARAMETER;
  }
  if (group != nullptr &&
      (type == EVT_SIGNAL_EXIT_BOOT_SERVICES || type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE)) {
    return EFI_INVALID_PARAMETER;
  }
  auto created = std::make_unique<Event>();
  created->type = type;
  created->notifyTpl = notifies ? notifyTpl : 0;
  created->notify = notifies ? notify : nullptr;
  created->context = context;
  if (group != nullptr) {
    created->inGroup = true;
    created->group = *group;
  } else if (type == EVT_SIGNAL_EXIT_BOOT_SERVICES) {
    created->inGroup = true;
    created->group = gEfiEventExitBootServicesGuid;
  } else if (type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    created->inGroup = true;
    created->group = gEfiEventVirtualAddressChangeGuid;
  }
  Event *raw = created.get();
  events_.push_back(std::move(created));
  open_[raw] = raw;
  *event = static_cast<EFI_EVENT>(raw);
  return EFI_SUCCESS;
}

Event *EventService::Find(EFI_EVENT event) const {
  auto it = open_.find(event);
  return it == open_.end() ? nullptr : it->second;
}

void EventService::MarkSignaled(Event *event) {
  if (event->signaled) {
    return;
  }
  event->signaled = true;
  if ((event->type & EVT_NOTIFY_SIGNAL) != 0 && !event->queued) {
    event->queued = true;
    queues_[event->notifyTpl].push_back(event);
  }
}

EFI_STATUS EventService::Signal(EFI_EVENT handle) {
  Event *event = Find(handle);
  if (event == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (event->inGroup) {
    SignalGroup(event->group);
    return EFI_SUCCESS;
  }
  MarkSignaled(event);
  DispatchAbove(current_);
  return EFI_SUCCESS;
}

void EventService::SignalGroup(const EFI_GUID &group) {
  // Members join the queues in creation order; none runs until all are in.
  for (const auto &event : events_) {
    if (!event->closed && event->inGroup && GuidEqual(event->group, group)) {
      MarkSignaled(event.get());
    }
  }
  DispatchAbove(current_);
}

EFI_STATUS EventService::Close(EFI_EVENT handle) {
  Event *event = Find(handle);
  if (event == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (event->queued) {
    auto &queue = queues_[event->notifyTpl];
    queue.erase(std::remove(queue.begin(), queue.end(), event), queue.end());
    event->queued = false;
  }
  if (onClose) {
    onClose(handle);
  }
  event->closed = true;
  open_.erase(handle);
  return EFI_SUCCESS;
}

EFI_STATUS EventService::Check(EFI_EVENT handle) {
  Event *event = Find(handle);
  if (event == nullptr || (event->type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!event->signaled && (event->type & EVT_NOTIFY_WAIT) != 0 && !event->queued) {
    // A wait event's notify runs on every check until it signals the event.
    event->queued = true;
    queues_[event->notifyTpl].push_back(event);
    DispatchAbove(current_);
  }
  if (event->signaled) {
    event->signaled = false;
    return EFI_SUCCESS;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EventService::SetTimer(EFI_EVENT handle, EFI_TIMER_DELAY type) {
  Event *event = Find(handle);
  if (event == nullptr || (event->type & EVT_TIMER) == 0 || type > TimerRelative) {
    return EFI_INVALID_PARAMETER;
  }
  event->timerArmed = type != TimerCancel;
  return EFI_SUCCESS;
}

} // namespace host
