// The authentication component double: signature checks, tokens, enrolment
// across reboots, late installation, certificate text and injected faults.
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "host/Authentication.h"

namespace hosttest {
namespace {

constexpr UINT8 kAllIdentities = 0xFF;
constexpr ZELM_AUTH_TOKEN kUntouched = 0xA5A5A5A5A5A5A5A5ull;
const std::string kPacket = "<Settings><Setting name=\"Wake on LAN\">Enable</Setting></Settings>";

class AuthenticationTest : public BootTest {
protected:
  host::Authentication &Install(UINT8 enrolled = kAllIdentities) {
    platform.authentication.Enrol(enrolled);
    return firmware->InstallAuthentication();
  }
  ZELM_AUTHENTICATION_PROTOCOL *protocol() { return firmware->Auth()->Protocol(); }
  // Authenticate with the block copied into a buffer of exactly its size, so
  // a read past the block is caught by the sanitizer build.
  EFI_STATUS Verify(const std::string &data, const std::vector<UINT8> &block,
                    ZELM_AUTH_TOKEN *token) {
    std::unique_ptr<UINT8[]> exact(new UINT8[block.size()]);
    std::memcpy(exact.get(), block.data(), block.size());
    return protocol()->Authenticate(protocol(), data.data(), data.size(), exact.get(), token);
  }
  UINT32 IdentityOf(ZELM_AUTH_TOKEN token) {
    ZELM_IDENTITY_PROPERTIES properties;
    std::memset(&properties, 0xAA, sizeof(properties));
    EXPECT_EQ(protocol()->GetTokenIdentity(protocol(), &token, &properties), EFI_SUCCESS);
    for (UINT32 reserved : properties.Reserved) {
      EXPECT_EQ(reserved, 0u);
    }
    return properties.IdentityMask;
  }
};

// FNV-1a-64 over the block's first eight bytes, then "abc" (worked out
// apart from the code), the same bytes the OVMF harness signs.
TEST_F(AuthenticationTest, SignatureBlockHasTheDocumentedBytes) {
  const std::vector<UINT8> owner = {0x10, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
                                    0xDB, 0xEF, 0xE7, 0x5D, 0x86, 0xC1, 0x1A, 0x5F};
  const std::vector<UINT8> zeroTouch = {0x10, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
                                        0x33, 0xE2, 0xE3, 0x01, 0xB0, 0x18, 0x97, 0xDF};
  EXPECT_EQ(host::Authentication::Sign("abc", 3, ZELM_IDENTITY_OWNER), owner);
  EXPECT_EQ(host::Authentication::Sign("abc", 3, ZELM_IDENTITY_ZERO_TOUCH), zeroTouch);
  EXPECT_EQ(host::kSignatureBlockSize, owner.size());
}

TEST_F(AuthenticationTest, EachIdentitySignsAndItsTokenNamesIt) {
  Install();
  std::vector<ZELM_AUTH_TOKEN> seen;
  for (unsigned bit = 0; bit < 8; bit++) {
    UINT8 signer = static_cast<UINT8>(1u << bit);
    ZELM_AUTH_TOKEN token = 0;
    ASSERT_EQ(
        Verify(kPacket, firmware->Auth()->Sign(kPacket.data(), kPacket.size(), signer), &token),
        EFI_SUCCESS)
        << "signer " << int(signer);
    EXPECT_NE(token, 0u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), token), 0) << "token reused";
    seen.push_back(token);
    EXPECT_EQ(IdentityOf(token), signer);
  }
  EXPECT_EQ(firmware->Auth()->LiveTokens(), 8u);
  EXPECT_EQ(firmware->Auth()->calls.authenticate, 8u);
}

TEST_F(AuthenticationTest, TamperedOrUnenrolledSignatureGivesNoToken) {
  struct Case {
    const char *what;
    UINT8 enrolled;
    std::function<void(std::string &data, std::vector<UINT8> &block)> change;
  };
  const UINT8 others = static_cast<UINT8>(~ZELM_IDENTITY_OWNER);
  const Case cases[] = {
      {"first data byte flipped", kAllIdentities, [](auto &d, auto &) { d[0] ^= 0x01; }},
      {"last data byte flipped", kAllIdentities, [](auto &d, auto &) { d.back() ^= 0x80; }},
      {"data cut by one byte", kAllIdentities, [](auto &d, auto &) { d.pop_back(); }},
      {"digest byte flipped", kAllIdentities, [](auto &, auto &b) { b[12] ^= 0x10; }},
      {"length field 15", kAllIdentities, [](auto &, auto &b) { b[0] = 15; }},
      {"length field 17", kAllIdentities, [](auto &, auto &b) { b[0] = 17; }},
      {"length field high byte set", kAllIdentities, [](auto &, auto &b) { b[3] = 1; }},
      {"signer relabelled as another enrolled identity", kAllIdentities,
       [](auto &, auto &b) { b[4] = ZELM_IDENTITY_ZERO_TOUCH; }},
      {"signer widened to two identities", kAllIdentities,
       [](auto &, auto &b) { b[4] |= ZELM_IDENTITY_LOCAL; }},
      {"signer zero", kAllIdentities, [](auto &, auto &b) { b[4] = 0; }},
      {"reserved byte set", kAllIdentities, [](auto &, auto &b) { b[5] = 1; }},
      {"signer not enrolled", others, [](auto &, auto &) {}},
      {"nothing enrolled", 0, [](auto &, auto &) {}},
  };
  Install();
  for (const Case &c : cases) {
    platform.authentication.Unenrol(kAllIdentities);
    platform.authentication.Enrol(c.enrolled);
    std::string data = kPacket;
    std::vector<UINT8> block =
        host::Authentication::Sign(data.data(), data.size(), ZELM_IDENTITY_OWNER);
    c.change(data, block);
    ZELM_AUTH_TOKEN token = kUntouched;
    EXPECT_EQ(Verify(data, block, &token), EFI_SECURITY_VIOLATION) << c.what;
    EXPECT_EQ(token, kUntouched) << c.what;
  }
  EXPECT_EQ(firmware->Auth()->IssuedTokens(), 0u);
  EXPECT_EQ(firmware->Auth()->LiveTokens(), 0u);
}

// The driver checks only that the bytes the block's length field claims
// are there: a block that claims fewer than the fixed size is refused
// without reading past those bytes.
TEST_F(AuthenticationTest, ShortBlockIsRefusedWithoutReadingPastIt) {
  Install();
  for (UINT32 claimed : {0u, 4u, 8u, 15u}) {
    SCOPED_TRACE(claimed);
    std::vector<UINT8> block(std::max<UINT32>(claimed, 4), 0);
    std::memcpy(block.data(), &claimed, sizeof(claimed));
    ZELM_AUTH_TOKEN token = kUntouched;
    EXPECT_EQ(Verify(kPacket, block, &token), EFI_SECURITY_VIOLATION);
    EXPECT_EQ(token, kUntouched);
  }
}

TEST_F(AuthenticationTest, EnrolmentIsCheckedAtEachCall) {
  Install(ZELM_IDENTITY_OWNER | ZELM_IDENTITY_LOCAL);
  std::vector<UINT8> both = host::Authentication::Sign(
      kPacket.data(), kPacket.size(), ZELM_IDENTITY_ZERO_TOUCH | ZELM_IDENTITY_LOCAL);
  ZELM_AUTH_TOKEN token = kUntouched;
  EXPECT_EQ(Verify(kPacket, both, &token), EFI_SECURITY_VIOLATION) << "one bit not enrolled";
  platform.authentication.Enrol(ZELM_IDENTITY_ZERO_TOUCH);
  ASSERT_EQ(Verify(kPacket, both, &token), EFI_SUCCESS);
  EXPECT_EQ(IdentityOf(token), 0x09u);

  std::vector<UINT8> owner =
      host::Authentication::Sign(kPacket.data(), kPacket.size(), ZELM_IDENTITY_OWNER);
  platform.authentication.Unenrol(ZELM_IDENTITY_OWNER);
  token = kUntouched;
  EXPECT_EQ(Verify(kPacket, owner, &token), EFI_SECURITY_VIOLATION);
  EXPECT_EQ(token, kUntouched);
  UINT8 mask = 0;
  ASSERT_EQ(protocol()->GetEnrolledIdentities(protocol(), &mask), EFI_SUCCESS);
  EXPECT_EQ(mask, ZELM_IDENTITY_ZERO_TOUCH | ZELM_IDENTITY_LOCAL);
}

TEST_F(AuthenticationTest, NullArgumentsAndForeignThisAreRefused) {
  Install();
  std::vector<UINT8> block =
      host::Authentication::Sign(kPacket.data(), kPacket.size(), ZELM_IDENTITY_OWNER);
  ZELM_AUTH_TOKEN token = kUntouched;
  ZELM_AUTHENTICATION_PROTOCOL *p = protocol();
  ZELM_AUTHENTICATION_PROTOCOL foreign = *p;
  ZELM_IDENTITY_PROPERTIES properties{};
  UINT8 mask = 0x5A;
  struct Case {
    const char *what;
    std::function<EFI_STATUS()> call;
  };
  const Case cases[] = {
      {"data NULL",
       [&] { return p->Authenticate(p, nullptr, kPacket.size(), block.data(), &token); }},
      {"signature NULL",
       [&] { return p->Authenticate(p, kPacket.data(), kPacket.size(), nullptr, &token); }},
      {"token NULL",
       [&] { return p->Authenticate(p, kPacket.data(), kPacket.size(), block.data(), nullptr); }},
      {"foreign This",
       [&] {
         return p->Authenticate(&foreign, kPacket.data(), kPacket.size(), block.data(), &token);
       }},
      {"enrolled mask NULL", [&] { return p->GetEnrolledIdentities(p, nullptr); }},
      {"enrolled This NULL", [&] { return p->GetEnrolledIdentities(nullptr, &mask); }},
      {"identity token NULL", [&] { return p->GetTokenIdentity(p, nullptr, &properties); }},
      {"identity properties NULL", [&] { return p->GetTokenIdentity(p, &token, nullptr); }},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.call(), EFI_INVALID_PARAMETER) << c.what;
  }
  EXPECT_EQ(token, kUntouched);
  EXPECT_EQ(mask, 0x5A);
  EXPECT_EQ(firmware->Auth()->IssuedTokens(), 0u);
  EXPECT_EQ(p->Reserved, nullptr);
}

TEST_F(AuthenticationTest, IssuedTokensCarryAnyMaskAndAreNeverReused) {
  host::Authentication &auth = Install();
  const UINT32 masks[] = {0x09, 0xFFFFFFFF, 0, 0x80000000, ZELM_IDENTITY_OWNER};
  std::vector<ZELM_AUTH_TOKEN> tokens;
  for (UINT32 mask : masks) {
    ZELM_AUTH_TOKEN token = auth.IssueToken(mask);
    EXPECT_NE(token, 0u);
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), token), 0);
    tokens.push_back(token);
    EXPECT_EQ(IdentityOf(token), mask);
    ASSERT_EQ(protocol()->ReleaseToken(protocol(), &token), EFI_SUCCESS);
  }
  // Released values stay retired: a new token is never one of them.
  ZELM_AUTH_TOKEN next = auth.IssueToken(1);
  EXPECT_EQ(std::count(tokens.begin(), tokens.end(), next), 0);
}

TEST_F(AuthenticationTest, EveryTokenIsReleasedOnlyOnce) {
  host::Authentication &auth = Install();
  ZELM_AUTH_TOKEN live = auth.IssueToken(ZELM_IDENTITY_LOCAL);
  ZELM_AUTH_TOKEN kept = auth.IssueToken(ZELM_IDENTITY_OWNER);
  ZELM_AUTH_TOKEN zero = 0;
  ZELM_AUTH_TOKEN unknown = live ^ 0x40000000ull;
  struct Case {
    const char *what;
    ZELM_AUTH_TOKEN *token;
    EFI_STATUS expected;
  };
  const Case cases[] = {
      {"live token", &live, EFI_SUCCESS},        {"same token again", &live, EFI_INVALID_PARAMETER},
      {"token 0", &zero, EFI_INVALID_PARAMETER}, {"unknown token", &unknown, EFI_INVALID_PARAMETER},
      {"NULL", nullptr, EFI_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(protocol()->ReleaseToken(protocol(), c.token), c.expected) << c.what;
  }
  EXPECT_EQ(auth.Releases(), 1u);
  EXPECT_EQ(auth.InvalidReleases(), 4u);
  EXPECT_EQ(auth.calls.release, 5u);
  EXPECT_EQ(auth.LiveTokens(), 1u);
  EXPECT_EQ(IdentityOf(kept), ZELM_IDENTITY_OWNER) << "other tokens stay live";
}

TEST_F(AuthenticationTest, ReleasedTokenHasNoIdentity) {
  host::Authentication &auth = Install();
  ZELM_AUTH_TOKEN token = auth.IssueToken(ZELM_IDENTITY_OWNER);
  ASSERT_EQ(protocol()->ReleaseToken(protocol(), &token), EFI_SUCCESS);
  ZELM_IDENTITY_PROPERTIES properties;
  std::memset(&properties, 0xAA, sizeof(properties));
  EXPECT_EQ(protocol()->GetTokenIdentity(protocol(), &token, &properties), EFI_INVALID_PARAMETER);
  EXPECT_EQ(properties.IdentityMask, 0xAAAAAAAAu);
}

TEST_F(AuthenticationTest, EnrolmentSurvivesRebootButTokensDoNot) {
  host::Authentication &first = Install(ZELM_IDENTITY_OWNER | ZELM_IDENTITY_ZERO_TOUCH);
  ZELM_AUTH_TOKEN old = first.IssueToken(ZELM_IDENTITY_OWNER);
  Reboot();
  EXPECT_EQ(firmware->Auth(), nullptr);
  EXPECT_EQ(firmware->FindProtocol(gZelmAuthenticationProtocolGuid), nullptr);
  host::Authentication &second = firmware->InstallAuthentication();
  UINT8 mask = 0;
  ASSERT_EQ(protocol()->GetEnrolledIdentities(protocol(), &mask), EFI_SUCCESS);
  EXPECT_EQ(mask, ZELM_IDENTITY_OWNER | ZELM_IDENTITY_ZERO_TOUCH);
  ZELM_IDENTITY_PROPERTIES properties{};
  EXPECT_EQ(protocol()->GetTokenIdentity(protocol(), &old, &properties), EFI_INVALID_PARAMETER);
  EXPECT_EQ(protocol()->ReleaseToken(protocol(), &old), EFI_INVALID_PARAMETER);
  EXPECT_NE(second.IssueToken(ZELM_IDENTITY_OWNER), old) << "a new boot reuses no token";
  EXPECT_EQ(second.calls.getEnrolled, 1u) << "counts start again with the boot";
}

TEST_F(AuthenticationTest, LateInstallationNotifiesAnEarlierRegistration) {
  platform.authentication.Enrol(ZELM_IDENTITY_OWNER);
  Probe probe;
  UINT8 seenMask = 0;
  VOID *registration = nullptr;
  probe.action = [&](EFI_EVENT) {
    // Take the new interface through the registration and ask it at once.
    VOID *found = nullptr;
    ASSERT_EQ(bs()->LocateProtocol(&gZelmAuthenticationProtocolGuid, registration, &found),
              EFI_SUCCESS);
    auto *p = static_cast<ZELM_AUTHENTICATION_PROTOCOL *>(found);
    EXPECT_EQ(p->GetEnrolledIdentities(p, &seenMask), EFI_SUCCESS);
  };
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &probe, &event),
            EFI_SUCCESS);
  ASSERT_EQ(bs()->RegisterProtocolNotify(&gZelmAuthenticationProtocolGuid, event, &registration),
            EFI_SUCCESS);
  EXPECT_EQ(firmware->Auth(), nullptr);
  EXPECT_EQ(probe.runs, 0);

  host::Authentication &auth = firmware->InstallAuthentication();
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(seenMask, ZELM_IDENTITY_OWNER);
  EXPECT_EQ(firmware->Auth(), &auth);
  VOID *found = nullptr;
  EXPECT_EQ(bs()->LocateProtocol(&gZelmAuthenticationProtocolGuid, registration, &found),
            EFI_NOT_FOUND)
      << "the notification already took it";
  EXPECT_EQ(firmware->FindProtocol(gZelmAuthenticationProtocolGuid), auth.Protocol());
  EXPECT_THROW(firmware->InstallAuthentication(), std::logic_error);
  EXPECT_EQ(bs()->CloseEvent(event), EFI_SUCCESS);
}

TEST_F(AuthenticationTest, CertTextIsPoolAllocatedAndFreedByTheCaller) {
  host::Authentication &auth = Install();
  const UINT8 cert[] = {0x30, 0x82, 0x01, 0x0A};
  size_t mark = firmware->BootPool().Mark();
  CHAR8 *text = nullptr;
  UINTN size = 0;
  ASSERT_EQ(protocol()->GetCertInfo(protocol(), nullptr, cert, sizeof(cert), 2, 3, &text, &size),
            EFI_SUCCESS);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(firmware->BootPool().Owns(text));
  const char expected[] = "CN=Zelm Test Certificate";
  ASSERT_EQ(size, sizeof(expected));
  EXPECT_EQ(std::memcmp(text, expected, sizeof(expected)), 0);
  ASSERT_EQ(bs()->FreePool(text), EFI_SUCCESS);

  auth.certText = "O=Example";
  ASSERT_EQ(protocol()->GetCertInfo(protocol(), nullptr, cert, 1, 2, 3, &text, &size), EFI_SUCCESS);
  ASSERT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(text, "O=Example", 10), 0);
  ASSERT_EQ(bs()->FreePool(text), EFI_SUCCESS);
  EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
  Reboot();
  EXPECT_TRUE(platform.LastBoot().leakedBlocks.empty());
}

TEST_F(AuthenticationTest, CertInfoRefusesOtherRequestsAndAllocatesNothing) {
  Install();
  const UINT8 cert[] = {0x30};
  int reserved = 0;
  struct Case {
    const char *what;
    VOID *reserved;
    const VOID *cert;
    UINTN certSize;
    UINT32 selector1, selector2;
    bool nullText, nullSize;
  };
  const Case cases[] = {
      {"reserved not NULL", &reserved, cert, 1, 2, 3, false, false},
      {"cert NULL", nullptr, nullptr, 1, 2, 3, false, false},
      {"cert size 0", nullptr, cert, 0, 2, 3, false, false},
      {"first selector 3", nullptr, cert, 1, 3, 3, false, false},
      {"second selector 2", nullptr, cert, 1, 2, 2, false, false},
      {"text NULL", nullptr, cert, 1, 2, 3, true, false},
      {"text size NULL", nullptr, cert, 1, 2, 3, false, true},
  };
  size_t mark = firmware->BootPool().Mark();
  for (const Case &c : cases) {
    CHAR8 sentinel = 0;
    CHAR8 *text = &sentinel;
    UINTN size = 77;
    EXPECT_EQ(protocol()->GetCertInfo(protocol(), c.reserved, c.cert, c.certSize, c.selector1,
                                      c.selector2, c.nullText ? nullptr : &text,
                                      c.nullSize ? nullptr : &size),
              EFI_INVALID_PARAMETER)
        << c.what;
    EXPECT_EQ(text, &sentinel) << c.what;
    EXPECT_EQ(size, 77u) << c.what;
  }
  EXPECT_EQ(firmware->BootPool().Mark(), mark);

  firmware->BootPool().FailNth(1);
  CHAR8 *text = nullptr;
  UINTN size = 77;
  EXPECT_EQ(protocol()->GetCertInfo(protocol(), nullptr, cert, 1, 2, 3, &text, &size),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(size, 77u);
}

TEST_F(AuthenticationTest, InjectedFaultsAreReturnedAndWriteNothing) {
  host::Authentication &auth = Install();
  ZELM_AUTH_TOKEN live = auth.IssueToken(ZELM_IDENTITY_OWNER);
  std::vector<UINT8> block =
      host::Authentication::Sign(kPacket.data(), kPacket.size(), ZELM_IDENTITY_OWNER);
  const UINT8 cert[] = {0x30};
  ZELM_AUTHENTICATION_PROTOCOL *p = protocol();
  struct Case {
    const char *what;
    EFI_STATUS *fault;
    const size_t *count;
    std::function<EFI_STATUS()> call;
  };
  UINT8 mask = 0x5A;
  ZELM_AUTH_TOKEN token = kUntouched;
  ZELM_IDENTITY_PROPERTIES properties;
  std::memset(&properties, 0xAA, sizeof(properties));
  CHAR8 *text = nullptr;
  UINTN textSize = 77;
  const Case cases[] = {
      {"GetEnrolledIdentities", &auth.enrolledStatus, &auth.calls.getEnrolled,
       [&] { return p->GetEnrolledIdentities(p, &mask); }},
      {"Authenticate", &auth.authenticateStatus, &auth.calls.authenticate,
       [&] { return p->Authenticate(p, kPacket.data(), kPacket.size(), block.data(), &token); }},
      {"GetTokenIdentity", &auth.identityStatus, &auth.calls.getIdentity,
       [&] { return p->GetTokenIdentity(p, &live, &properties); }},
      {"GetCertInfo", &auth.certStatus, &auth.calls.getCertInfo,
       [&] { return p->GetCertInfo(p, nullptr, cert, 1, 2, 3, &text, &textSize); }},
  };
  size_t mark = firmware->BootPool().Mark();
  for (const EFI_STATUS fault : {EFI_DEVICE_ERROR, EFI_NOT_READY, EFI_OUT_OF_RESOURCES}) {
    for (const Case &c : cases) {
      *c.fault = fault;
      size_t before = *c.count;
      EXPECT_EQ(c.call(), fault) << c.what;
      EXPECT_EQ(*c.count, before + 1) << c.what;
      *c.fault = EFI_SUCCESS;
    }
  }
  EXPECT_EQ(mask, 0x5A);
  EXPECT_EQ(token, kUntouched);
  EXPECT_EQ(properties.IdentityMask, 0xAAAAAAAAu);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(textSize, 77u);
  EXPECT_EQ(auth.IssuedTokens(), 1u);
  EXPECT_EQ(firmware->BootPool().Mark(), mark);
  // Cleared faults give the component back.
  EXPECT_EQ(p->Authenticate(p, kPacket.data(), kPacket.size(), block.data(), &token), EFI_SUCCESS);
}

} // namespace
} // namespace hosttest
