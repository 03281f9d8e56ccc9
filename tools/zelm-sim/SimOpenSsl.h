// OpenSSL objects as owned C++ values, and the error texts of the key and
// signature layers.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_OPEN_SSL_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_OPEN_SSL_H_

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>
#include <string>

namespace sim {

struct OpenSslFree {
  void operator()(BIO *p) const { BIO_free_all(p); }
  void operator()(BIGNUM *p) const { BN_free(p); }
  void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
  void operator()(PKCS7 *p) const { PKCS7_free(p); }
  void operator()(X509 *p) const { X509_free(p); }
  void operator()(X509_EXTENSION *p) const { X509_EXTENSION_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }
};
template <typename T> using Owned = std::unique_ptr<T, OpenSslFree>;

// What failed, with OpenSSL's first queued reason; the queue is left empty
// so a later message does not pick up a stale reason.
inline std::string OpenSslError(const std::string &what) {
  std::string text = what;
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof(reason));
    text += ": ";
    text += reason;
  }
  ERR_clear_error();
  return text;
}

// A BIO reading Size bytes at Bytes (none for sizes an int cannot hold).
inline Owned<BIO> ReadOnlyBio(const void *bytes, size_t size) {
  static const char kNothing = 0;
  if (size > INT_MAX) {
    return nullptr;
  }
  return Owned<BIO>(BIO_new_mem_buf(size != 0 ? bytes : &kNothing, static_cast<int>(size)));
}

inline std::string MemoryText(BIO *bio) {
  char *bytes = nullptr;
  long size = BIO_get_mem_data(bio, &bytes);
  return size > 0 ? std::string(bytes, static_cast<size_t>(size)) : std::string();
}

} // namespace sim

#endif
