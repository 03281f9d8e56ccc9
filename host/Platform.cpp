#include "host/HostPlatform.h"

#include <cstring>
#include <stdexcept>

#include "host/CpuHooks.h"

namespace host {

bool GuidEqual(const EFI_GUID &a, const EFI_GUID &b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

bool operator<(const VariableId &a, const VariableId &b) {
  int byGuid = std::memcmp(&a.guid, &b.guid, sizeof(EFI_GUID));
  if (byGuid != 0) {
    return byGuid < 0;
  }
  return a.name < b.name;
}

bool operator==(const VariableId &a, const VariableId &b) {
  return GuidEqual(a.guid, b.guid) && a.name == b.name;
}

bool Platform::PcdKey::operator<(const PcdKey &o) const {
  int byGuid = std::memcmp(&space, &o.space, sizeof(EFI_GUID));
  return byGuid != 0 ? byGuid < 0 : token < o.token;
}

Platform::Platform() {
  BindCpu(&cpu);
}

Platform::~Platform() {
  UnbindCpu(&cpu);
}

void Platform::PutVariable(std::u16string_view name, const EFI_GUID &guid, UINT32 attributes,
                           std::vector<UINT8> data) {
  store_[VariableId{std::u16string(name), guid}] = Variable{attributes, std::move(data)};
}

void Platform::PutVariable(std::u16string_view name, const EFI_GUID &guid, UINT32 attributes,
                           std::string_view bytes) {
  PutVariable(name, guid, attributes, std::vector<UINT8>(bytes.begin(), bytes.end()));
}

const Variable *Platform::FindVariable(std::u16string_view name, const EFI_GUID &guid) const {
  auto it = store_.find(VariableId{std::u16string(name), guid});
  return it == store_.end() ? nullptr : &it->second;
}

bool Platform::EraseVariable(std::u16string_view name, const EFI_GUID &guid) {
  return store_.erase(VariableId{std::u16string(name), guid}) != 0;
}

size_t Platform::StoreUsage(bool nonVolatile) const {
  size_t used = 0;
  for (const auto &entry : store_) {
    bool isNv = (entry.second.attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
    if (isNv == nonVolatile) {
      used += kVariableHeaderSize + (entry.first.name.size() + 1) * sizeof(CHAR16) +
              entry.second.data.size();
    }
  }
  return used;
}

void Platform::FailSetVariable(size_t n, EFI_STATUS status) {
  setFailCountdown_ = n;
  setFailStatus_ = status;
}

void Platform::FailGetVariable(size_t n, EFI_STATUS status) {
  getFailCountdown_ = n;
  getFailStatus_ = status;
}

bool Platform::TakeSetVariableFailure(EFI_STATUS *status) {
  if (setFailCountdown_ != 0 && --setFailCountdown_ == 0) {
    *status = setFailStatus_;
    return true;
  }
  return false;
}

bool Platform::TakeGetVariableFailure(EFI_STATUS *status) {
  if (getFailCountdown_ != 0 && --getFailCountdown_ == 0) {
    *status = getFailStatus_;
    return true;
  }
  return false;
}

void Platform::SetClock(UINT16 year, UINT8 month, UINT8 day, UINT8 hour, UINT8 minute,
                        UINT8 second) {
  clock = EFI_TIME{};
  clock.Year = year;
  clock.Month = month;
  clock.Day = day;
  clock.Hour = hour;
  clock.Minute = minute;
  clock.Second = second;
  clock.TimeZone = 0x07FF; // EFI_UNSPECIFIED_TIMEZONE
}

UINT16 Platform::AddSmbiosRecord(UINT8 type, std::vector<UINT8> formatted,
                                 const std::vector<std::string> &strings) {
  if (formatted.size() + 4 > 0xFF) {
    throw std::invalid_argument("SMBIOS formatted area longer than 255 bytes");
  }
  UINT16 handle = nextSmbiosHandle_++;
  std::vector<UINT8> record{type, static_cast<UINT8>(formatted.size() + 4),
                            static_cast<UINT8>(handle & 0xFF), static_cast<UINT8>(handle >> 8)};
  record.insert(record.end(), formatted.begin(), formatted.end());
  for (const std::string &text : strings) {
    record.insert(record.end(), text.begin(), text.end());
    record.push_back(0);
  }
  // The string set ends with a second NUL; with no strings it is two NULs.
  if (strings.empty()) {
    record.push_back(0);
  }
  record.push_back(0);
  smbios_.push_back(std::move(record));
  return handle;
}

void Platform::AddRawSmbiosRecord(std::vector<UINT8> bytes) {
  smbios_.push_back(std::move(bytes));
}

std::vector<UINT8> Platform::BuildSmbiosTable() const {
  std::vector<UINT8> table;
  for (const std::vector<UINT8> &record : smbios_) {
    table.insert(table.end(), record.begin(), record.end());
  }
  if (terminateSmbiosTable) {
    // Formatted area of the header alone, an empty string set; the handle is
    // one no record has been given yet.
    table.insert(table.end(), {127, 4, static_cast<UINT8>(nextSmbiosHandle_ & 0xFF),
                               static_cast<UINT8>(nextSmbiosHandle_ >> 8), 0, 0});
  }
  return table;
}

void Platform::SetPcd(const EFI_GUID &tokenSpace, UINTN token, UINT64 value, size_t size) {
  std::vector<UINT8> bytes(size > 8 ? 8 : size);
  for (size_t i = 0; i < bytes.size(); i++) {
    bytes[i] = static_cast<UINT8>(value >> (8 * i));
  }
  pcd_[PcdKey{tokenSpace, token}] = std::move(bytes);
}

const std::vector<UINT8> *Platform::FindPcd(const EFI_GUID &tokenSpace, UINTN token) const {
  auto it = pcd_.find(PcdKey{tokenSpace, token});
  return it == pcd_.end() ? nullptr : &it->second;
}

void Platform::CutPowerAt(size_t k, bool lands) {
  cutCountdown_ = k;
  cutLands_ = lands;
  powerCut_ = false;
}

void Platform::BeforeSetVariable() {
  if (cutCountdown_ == 0 || --cutCountdown_ != 0) {
    return;
  }
  powerCut_ = true;
  if (cutLands_) {
    snapshotAfter_ = true;
  } else {
    cutStore_ = store_;
  }
}

void Platform::AfterSetVariable() {
  if (snapshotAfter_) {
    cutStore_ = store_;
    snapshotAfter_ = false;
  }
}

void Platform::BeginBoot() {
  bootCount_++;
  if (powerCut_) {
    store_ = std::move(cutStore_);
    cutStore_.clear();
    powerCut_ = false;
  }
  BindCpu(&cpu);
  // Volatile variables do not survive a reset.
  for (auto it = store_.begin(); it != store_.end();) {
    if ((it->second.attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      it = store_.erase(it);
    } else {
      ++it;
    }
  }
}

} // namespace host
