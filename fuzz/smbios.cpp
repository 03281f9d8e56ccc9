// Fuzz target for the SMBIOS type-1 walk and the string lookup: any bytes
// as the structures that the SMBIOS protocol hands out.
//
// Input: byte 0 holds options (bit 0: no end-of-table structure after the
// structures), byte 1 a string number for the direct lookup; then
// structures, each a UINT16 length and that many bytes. The firmware
// double publishes them back to back as one exactly sized table, so any
// read past it is caught. The direct lookup reads the whole input after
// the options as a string set of exactly its size.
//
// Checked on every input: GetSmbiosString finds what a model of the
// string set finds (strings counted from 1, a set ending at an empty
// string or at its last byte); GetSystemInfoStrings either succeeds with
// three strings that a model of the last type-1 structure gives, or fails
// with every output NULL; nothing stays allocated.
#include <uefi/SmbiosTable.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzBoot.h"
#include "fuzz/FuzzSupport.h"
#include "host/HostFirmware.h"
#include "identity/SmbiosStrings.h"
#include "support/FirmwareTables.h"

namespace {

using fuzz::Check;

// String Number of a set of Available bytes, as the lookup must find it.
std::string ModelString(const uint8_t *set, size_t available, uint8_t number) {
  size_t at = 0;
  for (unsigned current = 1; number != 0 && at < available && set[at] != 0; current++) {
    size_t end = at;
    while (end < available && set[end] != 0) {
      end++;
    }
    if (end == available) {
      return "";
    }
    if (current == number) {
      return std::string(reinterpret_cast<const char *>(set + at), end - at);
    }
    at = end + 1;
  }
  return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const uint8_t options = data[0];
  const uint8_t number = data[1];
  {
    // The string set alone, exactly sized.
    std::unique_ptr<CHAR8[]> set(new CHAR8[size - 1]);
    memcpy(set.get(), data + 1, size - 1);
    host::Platform platform;
    host::Firmware firmware(platform);
    Check(firmware.RunImage(fuzz::TakeTables) == EFI_SUCCESS);
    CHAR8 *result = nullptr;
    Check(GetSmbiosString(set.get(), size - 1, number, &result) == EFI_SUCCESS);
    Check(result != nullptr && std::string(result) == ModelString(data + 1, size - 1, number));
    firmware.BootServices()->FreePool(result);
    Check(firmware.BootPool().Stats().liveCount == 0);
  }

  host::Platform platform;
  std::vector<std::vector<UINT8>> structures;
  fuzz::Input in(data + 2, size - 2);
  while (in.Left() > 0) {
    size_t length = static_cast<size_t>(in.Take(2));
    if (length > in.Left()) {
      length = in.Left();
    }
    structures.emplace_back(in.Rest(), in.Rest() + length);
    for (size_t i = 0; i < length; i++) {
      in.Byte();
    }
  }
  // The walk steps by handle: every structure gets its own, and only the
  // last may be cut inside its header (the table's end then cuts it). The
  // protocol never hands out a structure without bytes: one at the very
  // end of the table would count as kept apart from it.
  while (!structures.empty() && structures.back().empty()) {
    structures.pop_back();
  }
  for (size_t i = 0; i < structures.size(); i++) {
    std::vector<UINT8> &s = structures[i];
    if (s.size() < 4 && i + 1 < structures.size()) {
      s.resize(4, 0);
    }
    if (s.size() >= 4) {
      s[2] = static_cast<UINT8>((i + 1) & 0xFF);
      s[3] = static_cast<UINT8>((i + 1) >> 8);
    }
  }
  for (const std::vector<UINT8> &s : structures) {
    platform.AddRawSmbiosRecord(s);
  }
  platform.terminateSmbiosTable = (options & 1) == 0;
  const std::vector<UINT8> table = platform.BuildSmbiosTable();

  // The model: the last structure whose type byte is 1 and whose header
  // lies inside the table; its formatted area cut at the table's end.
  bool found = false;
  std::string fields[3];
  size_t offset = 0;
  for (const std::vector<UINT8> &s : structures) {
    size_t readable = table.size() - offset;
    if (readable > 0xFFFF) {
      readable = 0xFFFF;
    }
    if (readable >= 4 && table[offset] == 1) {
      found = true;
      const uint8_t *bytes = table.data() + offset;
      size_t formatted = bytes[1] < readable ? bytes[1] : readable;
      const uint8_t offsets[3] = {4, 5, 7};
      for (int f = 0; f < 3; f++) {
        uint8_t n = offsets[f] < formatted ? bytes[offsets[f]] : 0;
        fields[f] = ModelString(bytes + formatted, readable - formatted, n);
      }
    }
    offset += s.size();
  }

  host::Firmware firmware(platform);
  Check(firmware.RunImage(fuzz::TakeTables) == EFI_SUCCESS);
  firmware.InstallSmbios();
  CHAR8 *values[3] = {reinterpret_cast<CHAR8 *>(1), reinterpret_cast<CHAR8 *>(1),
                      reinterpret_cast<CHAR8 *>(1)};
  EFI_STATUS status = GetSystemInfoStrings(&values[0], &values[1], &values[2]);
  if (status == EFI_SUCCESS) {
    Check(found);
    for (int f = 0; f < 3; f++) {
      Check(values[f] != nullptr && std::string(values[f]) == fields[f]);
      firmware.BootServices()->FreePool(values[f]);
    }
  } else {
    Check(status == EFI_NOT_FOUND && !found);
    Check(values[0] == nullptr && values[1] == nullptr && values[2] == nullptr);
  }
  Check(firmware.BootPool().Stats().liveCount == 0);
  return 0;
}
