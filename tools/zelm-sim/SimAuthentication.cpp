// The protocol adapter: the authentication protocol's entries over the key
// store and the signature layer, tokens kept per boot.
#include "tools/zelm-sim/SimAuthentication.h"

#include <atomic>
#include <cstring>
#include <new>

#include "host/HostFirmware.h"
#include "tools/zelm-sim/SimSignature.h"

namespace sim {

namespace {

// Runs a protocol entry's work; nothing thrown crosses the EFIAPI boundary.
template <typename F> EFI_STATUS Guarded(F &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    ERR_clear_error();
    return EFI_OUT_OF_RESOURCES;
  } catch (...) {
    ERR_clear_error();
    return EFI_DEVICE_ERROR;
  }
}

// Each component instance numbers its tokens in its own upper half, so a
// token kept from an earlier boot names nothing in a later one.
ZELM_AUTH_TOKEN FirstToken() {
  static std::atomic<UINT64> instances{0};
  return (instances.fetch_add(1) + 1) << 32 | 1;
}

} // namespace

SimAuthentication::SimAuthentication(KeyStore &keys, UINT8 enrolled)
    : keys_(keys), enrolled_(enrolled), next_(FirstToken()) {
  protocol_.base.GetEnrolledIdentities = GetEnrolled;
  protocol_.base.Reserved = nullptr;
  protocol_.base.Authenticate = Authenticate;
  protocol_.base.ReleaseToken = Release;
  protocol_.base.GetTokenIdentity = Identity;
  protocol_.base.GetCertInfo = CertInfo;
  protocol_.self = this;
}

ZELM_AUTH_TOKEN SimAuthentication::IssueToken(UINT32 identityMask) {
  ZELM_AUTH_TOKEN token = next_++;
  tokens_.emplace(token, identityMask);
  return token;
}

SimAuthentication *SimAuthentication::Self(ZELM_AUTHENTICATION_PROTOCOL *protocol) {
  if (protocol == nullptr) {
    return nullptr;
  }
  // The protocol is the first member of its instance.
  SimAuthentication *self = reinterpret_cast<Instance *>(protocol)->self;
  return self != nullptr && self->Protocol() == protocol ? self : nullptr;
}

EFI_STATUS EFIAPI SimAuthentication::GetEnrolled(ZELM_AUTHENTICATION_PROTOCOL *This, UINT8 *Mask) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Mask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Mask = self->enrolled_;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::Authenticate(ZELM_AUTHENTICATION_PROTOCOL *This,
                                                  CONST VOID *Data, UINTN DataSize,
                                                  CONST VOID *Signature, ZELM_AUTH_TOKEN *Token) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Data == nullptr || Signature == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    UINT8 signer =
        self->keys_.Verify(Data, DataSize, static_cast<const UINT8 *>(Signature), self->enrolled_);
    if (signer == 0) {
      return EFI_SECURITY_VIOLATION;
    }
    *Token = self->IssueToken(signer);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimAuthentication::Release(ZELM_AUTHENTICATION_PROTOCOL *This,
                                             ZELM_AUTH_TOKEN *Token) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = self->tokens_.find(*Token);
  if (it == self->tokens_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  self->tokens_.erase(it);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::Identity(ZELM_AUTHENTICATION_PROTOCOL *This,
                                              ZELM_AUTH_TOKEN *Token,
                                              ZELM_IDENTITY_PROPERTIES *Properties) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Token == nullptr || Properties == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = self->tokens_.find(*Token);
  if (it == self->tokens_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  *Properties = ZELM_IDENTITY_PROPERTIES{};
  Properties->IdentityMask = it->second;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::CertInfo(ZELM_AUTHENTICATION_PROTOCOL *This,
                                              VOID * /*Reserved*/, CONST VOID *Cert, UINTN CertSize,
                                              UINT32 /*Selector1*/, UINT32 /*Selector2*/,
                                              CHAR8 **Text, UINTN *TextSize) {
  if (Self(This) == nullptr || Cert == nullptr || CertSize == 0 || Text == nullptr ||
      TextSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::string text;
    if (!CertificateSubject(Cert, CertSize, &text)) {
      return EFI_INVALID_PARAMETER;
    }
    host::Firmware *firmware = host::Firmware::Current();
    if (firmware == nullptr) {
      return EFI_NOT_READY;
    }
    // The caller frees the text with FreePool, so it comes from the boot's pool.
    UINTN size = text.size() + 1;
    VOID *buffer = nullptr;
    EFI_STATUS status = firmware->BootServices()->AllocatePool(EfiBootServicesData, size, &buffer);
    if (EFI_ERROR(status)) {
      return status;
    }
    std::memcpy(buffer, text.c_str(), size);
    *Text = static_cast<CHAR8 *>(buffer);
    *TextSize = size;
    return EFI_SUCCESS;
  });
}

} // namespace sim
