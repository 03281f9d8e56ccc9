// The authentication component double: the protocol's operations, signing
// and the Firmware members that install it.
#include "host/Authentication.h"

#include <zelm/ZelmGuids.h>

#include <cstring>
#include <stdexcept>

#include "host/FirmwareState.h"

namespace host {

namespace {

constexpr UINT32 kCertSelector1 = 2;
constexpr UINT32 kCertSelector2 = 3;

} // namespace

// The protocol's entries; each finds its instance through the live boot, so
// an interface pointer of another boot or a wrong This is refused.
struct AuthenticationService {
  static Authentication *Self(ZELM_AUTHENTICATION_PROTOCOL *This) {
    Firmware *firmware = Firmware::Current();
    Authentication *auth = firmware != nullptr ? firmware->Auth() : nullptr;
    return auth != nullptr && This == auth->Protocol() ? auth : nullptr;
  }

  static EFI_STATUS EFIAPI GetEnrolledIdentities(ZELM_AUTHENTICATION_PROTOCOL *This, UINT8 *Mask) {
    Authentication *a = Self(This);
    if (a == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    a->calls.getEnrolled++;
    if (Mask == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (a->enrolledStatus != EFI_SUCCESS) {
      return a->enrolledStatus;
    }
    *Mask = a->firmware_.GetPlatform().authentication.Enrolled();
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Authenticate(ZELM_AUTHENTICATION_PROTOCOL *This, CONST VOID *Data,
                                        UINTN DataSize, CONST VOID *Signature,
                                        ZELM_AUTH_TOKEN *Token) {
    Authentication *a = Self(This);
    if (a == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    a->calls.authenticate++;
    if (Data == nullptr || Signature == nullptr || Token == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (a->authenticateStatus != EFI_SUCCESS) {
      return a->authenticateStatus;
    }
    UINT8 signer = 0;
    const UINT8 enrolled = a->firmware_.GetPlatform().authentication.Enrolled();
    if (!ReadTestSignature(Data, DataSize, static_cast<const UINT8 *>(Signature), &signer) ||
        signer == 0 || (signer & ~enrolled) != 0) {
      return EFI_SECURITY_VIOLATION;
    }
    return Guarded([&] {
      *Token = a->IssueToken(signer);
      return EFI_SUCCESS;
    });
  }

  static EFI_STATUS EFIAPI ReleaseToken(ZELM_AUTHENTICATION_PROTOCOL *This,
                                        ZELM_AUTH_TOKEN *Token) {
    Authentication *a = Self(This);
    if (a == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    a->calls.release++;
    auto it = Token != nullptr ? a->live_.find(*Token) : a->live_.end();
    if (it == a->live_.end()) {
      a->invalidReleases_++;
      return EFI_INVALID_PARAMETER;
    }
    a->live_.erase(it);
    a->releases_++;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI GetTokenIdentity(ZELM_AUTHENTICATION_PROTOCOL *This,
                                            ZELM_AUTH_TOKEN *Token,
                                            ZELM_IDENTITY_PROPERTIES *Properties) {
    Authentication *a = Self(This);
    if (a == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    a->calls.getIdentity++;
    if (Token == nullptr || Properties == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    auto it = a->live_.find(*Token);
    if (it == a->live_.end()) {
      return EFI_INVALID_PARAMETER;
    }
    if (a->identityStatus != EFI_SUCCESS) {
      return a->identityStatus;
    }
    *Properties = ZELM_IDENTITY_PROPERTIES{};
    Properties->IdentityMask = it->second;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI GetCertInfo(ZELM_AUTHENTICATION_PROTOCOL *This, VOID *Reserved,
                                       CONST VOID *Cert, UINTN CertSize, UINT32 Selector1,
                                       UINT32 Selector2, CHAR8 **Text, UINTN *TextSize) {
    Authentication *a = Self(This);
    if (a == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    a->calls.getCertInfo++;
    if (Reserved != nullptr || Cert == nullptr || CertSize == 0 || Selector1 != kCertSelector1 ||
        Selector2 != kCertSelector2 || Text == nullptr || TextSize == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (a->certStatus != EFI_SUCCESS) {
      return a->certStatus;
    }
    // From the live tables, so pool faults and after-exit counting apply.
    UINTN size = a->certText.size() + 1;
    VOID *buffer = nullptr;
    EFI_STATUS status =
        a->firmware_.BootServices()->AllocatePool(EfiBootServicesData, size, &buffer);
    if (EFI_ERROR(status)) {
      return status;
    }
    std::memcpy(buffer, a->certText.c_str(), size);
    *Text = static_cast<CHAR8 *>(buffer);
    *TextSize = size;
    return EFI_SUCCESS;
  }
};

Authentication::Authentication(Firmware &firmware)
    : firmware_(firmware), bootTag_(firmware.GetPlatform().BootCount()) {
  protocol_.GetEnrolledIdentities = AuthenticationService::GetEnrolledIdentities;
  protocol_.Reserved = nullptr;
  protocol_.Authenticate = AuthenticationService::Authenticate;
  protocol_.ReleaseToken = AuthenticationService::ReleaseToken;
  protocol_.GetTokenIdentity = AuthenticationService::GetTokenIdentity;
  protocol_.GetCertInfo = AuthenticationService::GetCertInfo;
}

ZELM_AUTH_TOKEN Authentication::IssueToken(UINT32 identityMask) {
  ZELM_AUTH_TOKEN token = bootTag_ << 32 | (issued_ + 1);
  live_.emplace(token, identityMask);
  issued_++;
  return token;
}

std::vector<UINT8> Authentication::Sign(const void *data, size_t size, UINT8 signer) {
  std::vector<UINT8> block(kSignatureBlockSize);
  SignTestData(data, size, signer, block.data());
  return block;
}

Authentication &Firmware::InstallAuthentication() {
  if (state_->authentication) {
    throw std::logic_error("the authentication component is already installed");
  }
  // Set before installing: a notification may call the protocol at once.
  state_->authentication = std::make_unique<Authentication>(*this);
  if (EFI_ERROR(
          InstallProtocol(gZelmAuthenticationProtocolGuid, state_->authentication->Protocol()))) {
    state_->authentication.reset();
    throw std::logic_error("the authentication protocol could not be installed");
  }
  return *state_->authentication;
}

Authentication *Firmware::Auth() {
  return state_->authentication.get();
}

} // namespace host
