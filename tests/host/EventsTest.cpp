// Events, groups and TPL dispatch of the firmware double.
#include <uefi/UefiGuids.h>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

class EventsTest : public BootTest {
protected:
  EFI_EVENT Make(Probe &probe, EFI_TPL tpl, const EFI_GUID *group = nullptr) {
    EFI_EVENT event = nullptr;
    EXPECT_EQ(bs()->CreateEventEx(EVT_NOTIFY_SIGNAL, tpl, ProbeNotify, &probe, group, &event),
              EFI_SUCCESS);
    return event;
  }
};

TEST_F(EventsTest, RestoreDispatchesHighestLevelFirstThenFifo) {
  std::vector<int> order;
  Probe c1{1, &order}, n1{2, &order}, c2{3, &order}, n2{4, &order};
  EFI_EVENT events[] = {Make(c1, TPL_CALLBACK), Make(n1, TPL_NOTIFY), Make(c2, TPL_CALLBACK),
                        Make(n2, TPL_NOTIFY)};
  EXPECT_EQ(bs()->RaiseTPL(TPL_HIGH_LEVEL), static_cast<EFI_TPL>(TPL_APPLICATION));
  for (EFI_EVENT event : events) {
    ASSERT_EQ(bs()->SignalEvent(event), EFI_SUCCESS);
  }
  EXPECT_TRUE(order.empty());
  bs()->RestoreTPL(TPL_APPLICATION);
  EXPECT_EQ(order, (std::vector<int>{2, 4, 1, 3}));
  EXPECT_EQ(n1.seenTpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_EQ(c1.seenTpl, static_cast<EFI_TPL>(TPL_CALLBACK));
  EXPECT_EQ(firmware->CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
  EXPECT_EQ(firmware->TplViolations(), 0u);
}

TEST_F(EventsTest, RestoreToCallbackKeepsCallbackNotifiesPending) {
  Probe c{1}, n{2};
  EFI_EVENT callback = Make(c, TPL_CALLBACK);
  EFI_EVENT notify = Make(n, TPL_NOTIFY);
  EFI_TPL old = bs()->RaiseTPL(TPL_HIGH_LEVEL);
  bs()->SignalEvent(callback);
  bs()->SignalEvent(notify);
  bs()->RestoreTPL(TPL_CALLBACK);
  EXPECT_EQ(n.runs, 1);
  EXPECT_EQ(c.runs, 0);
  bs()->RestoreTPL(old);
  EXPECT_EQ(c.runs, 1);
}

TEST_F(EventsTest, SignalQueuesOnceWhilePendingAndRunsAgainAfterDispatch) {
  Probe p{1};
  EFI_EVENT event = Make(p, TPL_CALLBACK);
  EFI_TPL old = bs()->RaiseTPL(TPL_NOTIFY);
  bs()->SignalEvent(event);
  bs()->SignalEvent(event);
  bs()->RestoreTPL(old);
  EXPECT_EQ(p.runs, 1);
  bs()->SignalEvent(event);
  EXPECT_EQ(p.runs, 2); // dispatched at once: TPL_APPLICATION < TPL_CALLBACK
}

TEST_F(EventsTest, SignalInsideNotifyRunsHigherLevelAtOnceAndSameLevelAfter) {
  std::vector<int> order;
  Probe same{2, &order}, higher{3, &order};
  EFI_EVENT sameEvent = Make(same, TPL_CALLBACK);
  EFI_EVENT higherEvent = Make(higher, TPL_NOTIFY);
  Probe first{1, &order};
  first.action = [&](EFI_EVENT) {
    bs()->SignalEvent(sameEvent);
    bs()->SignalEvent(higherEvent);
    order.push_back(10);
  };
  bs()->SignalEvent(Make(first, TPL_CALLBACK));
  EXPECT_EQ(order, (std::vector<int>{1, 3, 10, 2}));
}

TEST_F(EventsTest, GroupSignalReachesEveryMemberInCreationOrder) {
  std::vector<int> order;
  Probe a{1, &order}, b{2, &order}, other{3, &order}, ungrouped{4, &order};
  EFI_EVENT first = Make(a, TPL_CALLBACK, &kGuidA);
  Make(b, TPL_CALLBACK, &kGuidA);
  Make(other, TPL_CALLBACK, &kGuidB);
  Make(ungrouped, TPL_CALLBACK);
  ASSERT_EQ(bs()->SignalEvent(first), EFI_SUCCESS);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  firmware->SignalEventGroup(kGuidA);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(EventsTest, ExitBootServicesReachesBothKindsOfRegistration) {
  Probe legacy{1}, grouped{2}, ready{3};
  EFI_EVENT event = nullptr;
  ASSERT_EQ(
      bs()->CreateEvent(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_NOTIFY, ProbeNotify, &legacy, &event),
      EFI_SUCCESS);
  Make(grouped, TPL_CALLBACK, &gEfiEventExitBootServicesGuid);
  Make(ready, TPL_CALLBACK, &gEfiEventReadyToBootGuid);
  firmware->ReadyToBoot();
  EXPECT_EQ(ready.runs, 1);
  EXPECT_EQ(legacy.runs + grouped.runs, 0);
  firmware->ExitBootServices();
  EXPECT_EQ(legacy.runs, 1);
  EXPECT_EQ(grouped.runs, 1);
  EXPECT_FALSE(firmware->BootServicesActive());
  EXPECT_EQ(firmware->BootServiceCallsAfterExit(), 0u);
  bs()->SignalEvent(event);
  EXPECT_EQ(firmware->BootServiceCallsAfterExit(), 1u);
}

TEST_F(EventsTest, CloseInsideOwnNotifyIsSafeAndDropsPendingPeers) {
  std::vector<int> order;
  Probe victim{2, &order};
  EFI_EVENT victimEvent = Make(victim, TPL_CALLBACK, &kGuidA);
  // Runs first (higher level) and closes the pending victim and itself.
  Probe early{0, &order};
  early.action = [&](EFI_EVENT self) {
    EXPECT_EQ(bs()->CloseEvent(victimEvent), EFI_SUCCESS);
    EXPECT_EQ(bs()->CloseEvent(self), EFI_SUCCESS);
  };
  EFI_EVENT earlyEvent = Make(early, TPL_NOTIFY, &kGuidA);
  firmware->SignalEventGroup(kGuidA);
  EXPECT_EQ(order, (std::vector<int>{0}));
  EXPECT_EQ(bs()->CloseEvent(earlyEvent), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->SignalEvent(victimEvent), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware->OpenEventCount(), 0u);
}

TEST_F(EventsTest, CloseRemovesProtocolNotifyRegistration) {
  Probe p{1};
  EFI_EVENT event = Make(p, TPL_CALLBACK);
  VOID *registration = nullptr;
  ASSERT_EQ(bs()->RegisterProtocolNotify(const_cast<EFI_GUID *>(&kGuidA), event, &registration),
            EFI_SUCCESS);
  EXPECT_EQ(firmware->NotifyRegistrationCount(), 1u);
  ASSERT_EQ(bs()->CloseEvent(event), EFI_SUCCESS);
  EXPECT_EQ(firmware->NotifyRegistrationCount(), 0u);
  int interface = 0;
  ASSERT_EQ(firmware->InstallProtocol(kGuidA, &interface), EFI_SUCCESS);
  EXPECT_EQ(p.runs, 0);
}

TEST_F(EventsTest, CreateRejectsInvalidParameters) {
  struct Case {
    const char *what;
    UINT32 type;
    EFI_TPL tpl;
    EFI_EVENT_NOTIFY notify;
    const EFI_GUID *group;
    bool nullOut;
  };
  const Case cases[] = {
      {"NULL event pointer", EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, nullptr, true},
      {"no notify function", EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, false},
      {"TPL_APPLICATION notify", EVT_NOTIFY_SIGNAL, TPL_APPLICATION, ProbeNotify, nullptr, false},
      {"TPL_HIGH_LEVEL notify", EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL, ProbeNotify, nullptr, false},
      {"signal and wait", EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT, TPL_CALLBACK, ProbeNotify, nullptr,
       false},
      {"unknown type bit", 0x1, TPL_CALLBACK, ProbeNotify, nullptr, false},
      {"exit-boot-services type with a group", EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK,
       ProbeNotify, &kGuidA, false},
  };
  Probe p;
  for (const Case &c : cases) {
    EFI_EVENT event = nullptr;
    EXPECT_EQ(
        bs()->CreateEventEx(c.type, c.tpl, c.notify, &p, c.group, c.nullOut ? nullptr : &event),
        EFI_INVALID_PARAMETER)
        << c.what;
  }
  EXPECT_EQ(firmware->OpenEventCount(), 0u);
  EXPECT_EQ(bs()->SignalEvent(&p), EFI_INVALID_PARAMETER);
}

TEST_F(EventsTest, TplMisuseIsCounted) {
  EFI_TPL old = bs()->RaiseTPL(TPL_NOTIFY);
  bs()->RaiseTPL(TPL_CALLBACK);
  bs()->RestoreTPL(TPL_HIGH_LEVEL);
  EXPECT_EQ(firmware->TplViolations(), 2u);
  bs()->RestoreTPL(old);
  EXPECT_EQ(firmware->CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
}

TEST_F(EventsTest, CheckEventReportsAndClearsSignalState) {
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(0, 0, nullptr, nullptr, &event), EFI_SUCCESS);
  EXPECT_EQ(bs()->CheckEvent(event), EFI_NOT_READY);
  bs()->SignalEvent(event);
  EXPECT_EQ(bs()->CheckEvent(event), EFI_SUCCESS);
  EXPECT_EQ(bs()->CheckEvent(event), EFI_NOT_READY);
  Probe p;
  EXPECT_EQ(bs()->CheckEvent(Make(p, TPL_CALLBACK)), EFI_INVALID_PARAMETER);
}

} // namespace
} // namespace hosttest
