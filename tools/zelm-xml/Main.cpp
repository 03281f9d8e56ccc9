// zelm-xml FILE
//
// Parses the whole file with XmlParse, exactly as the packet code parses a
// payload, and writes the text XmlTreeToString makes of the tree to stdout.
// Exit status: 0 written; 1 parse or write failure, or an empty tree (the
// status on stderr); 2 the file cannot be read.
#include <cstdio>
#include <string>
#include <vector>

#include "xml/HostPool.h"
#include "xml/Xml.h"

namespace {

std::string StatusText(EFI_STATUS status) {
  static const char *const kErrors[] = {
      nullptr,
      "EFI_LOAD_ERROR",
      "EFI_INVALID_PARAMETER",
      "EFI_UNSUPPORTED",
      "EFI_BAD_BUFFER_SIZE",
      "EFI_BUFFER_TOO_SMALL",
      "EFI_NOT_READY",
      "EFI_DEVICE_ERROR",
      "EFI_WRITE_PROTECTED",
      "EFI_OUT_OF_RESOURCES",
      "EFI_VOLUME_CORRUPTED",
      "EFI_VOLUME_FULL",
      "EFI_NO_MEDIA",
      "EFI_MEDIA_CHANGED",
      "EFI_NOT_FOUND",
      "EFI_ACCESS_DENIED",
      "EFI_NO_RESPONSE",
      "EFI_NO_MAPPING",
      "EFI_TIMEOUT",
      "EFI_NOT_STARTED",
      "EFI_ALREADY_STARTED",
      "EFI_ABORTED",
  };
  if (status == EFI_SUCCESS) {
    return "EFI_SUCCESS";
  }
  UINTN code = status & ~EFI_MAX_BIT;
  if (EFI_ERROR(status) && code < sizeof(kErrors) / sizeof(kErrors[0]) && kErrors[code]) {
    return kErrors[code];
  }
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(status));
  return text;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zelm-xml FILE\n");
    return 2;
  }
  std::FILE *file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "zelm-xml: cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<char> data;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) != 0) {
    data.insert(data.end(), chunk, chunk + got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "zelm-xml: cannot read %s\n", argv[1]);
    return 2;
  }

  XmlNode *root = nullptr;
  EFI_STATUS status = XmlParse(data.data(), data.size(), &root);
  if (EFI_ERROR(status)) {
    std::fprintf(stderr, "zelm-xml: parse failed: %s\n", StatusText(status).c_str());
    return 1;
  }
  if (root == nullptr) {
    std::fprintf(stderr, "zelm-xml: parse gave an empty tree: %s\n", StatusText(status).c_str());
    return 1;
  }
  UINTN size = 0;
  CHAR8 *text = nullptr;
  status = XmlTreeToString(root, 0, &size, &text);
  (void)XmlFreeTree(&root);
  if (EFI_ERROR(status)) {
    std::fprintf(stderr, "zelm-xml: write failed: %s\n", StatusText(status).c_str());
    return 1;
  }
  std::fwrite(text, 1, size - 1, stdout);
  XmlPoolFree(text);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
