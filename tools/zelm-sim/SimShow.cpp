#include "tools/zelm-sim/SimShow.h"

#include <cstdio>
#include <cstring>

#include "tools/zelm-sim/SimApply.h"

namespace sim {

std::string IndentXml(const std::string &xml) {
  // Tags and the texts between them.
  std::vector<std::string> tokens;
  for (size_t i = 0; i < xml.size();) {
    size_t end = xml[i] == '<' ? xml.find('>', i) : xml.find('<', i) - 1;
    if (end == std::string::npos || end >= xml.size()) {
      end = xml.size() - 1;
    }
    tokens.push_back(xml.substr(i, end - i + 1));
    i = end + 1;
  }
  auto isTag = [](const std::string &t) { return !t.empty() && t[0] == '<'; };
  auto isClose = [](const std::string &t) { return t.size() > 1 && t[1] == '/'; };
  auto isLeaf = [](const std::string &t) {
    return t.size() > 1 && (t[1] == '?' || t[1] == '!' || t[t.size() - 2] == '/');
  };
  std::string out;
  size_t depth = 0;
  for (size_t k = 0; k < tokens.size(); k++) {
    const std::string &t = tokens[k];
    if (!isTag(t)) {
      out += std::string(depth * 2, ' ') + t + "\n";
      continue;
    }
    if (isClose(t)) {
      depth = depth > 0 ? depth - 1 : 0;
      out += std::string(depth * 2, ' ') + t + "\n";
    } else if (isLeaf(t)) {
      out += std::string(depth * 2, ' ') + t + "\n";
    } else if (k + 2 < tokens.size() && !isTag(tokens[k + 1]) && isClose(tokens[k + 2])) {
      out += std::string(depth * 2, ' ') + t + tokens[k + 1] + tokens[k + 2] + "\n";
      k += 2;
    } else if (k + 1 < tokens.size() && isClose(tokens[k + 1])) {
      out += std::string(depth * 2, ' ') + t + tokens[k + 1] + "\n";
      k += 1;
    } else {
      out += std::string(depth * 2, ' ') + t + "\n";
      depth++;
    }
  }
  return out;
}

std::string HexDump(const std::vector<UINT8> &bytes) {
  std::string out;
  char line[128];
  for (size_t offset = 0; offset < bytes.size(); offset += 16) {
    int n = std::snprintf(line, sizeof(line), "%06zx ", offset);
    std::string ascii;
    for (size_t k = 0; k < 16; k++) {
      if (offset + k < bytes.size()) {
        UINT8 b = bytes[offset + k];
        n += std::snprintf(line + n, sizeof(line) - n, " %02x", b);
        ascii.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
      } else {
        n += std::snprintf(line + n, sizeof(line) - n, "   ");
      }
    }
    out += std::string(line) + "  " + ascii + "\n";
  }
  return out;
}

std::string ShowVariable(const std::vector<UINT8> &bytes) {
  // Result variables: "KVSR" (settings) or "KPPR" (permissions).
  if (bytes.size() >= 20 &&
      (std::memcmp(bytes.data(), "KVSR", 4) == 0 || std::memcmp(bytes.data(), "KPPR", 4) == 0)) {
    EFI_STATUS status = 0;
    UINT32 session = 0;
    std::memcpy(&status, bytes.data() + 8, sizeof(status));
    std::memcpy(&session, bytes.data() + 16, sizeof(session));
    std::string out = std::string(bytes.begin(), bytes.begin() + 4) + " layout " +
                      std::to_string(bytes[4]) + ", status " + StatusHex(status) + " (" +
                      StatusName(status) + "), session " + std::to_string(session) + "\n";
    if (bytes.size() >= 22) {
      size_t size = bytes[20] | bytes[21] << 8;
      out += "result text: " + std::to_string(size) + " bytes\n";
      if (size > 0 && 22 + size <= bytes.size()) {
        out += IndentXml(std::string(bytes.begin() + 22, bytes.begin() + 22 + size - 1));
      }
    }
    return out;
  }
  if (bytes.size() > 5 && std::memcmp(bytes.data(), "<?xml", 5) == 0) {
    std::string text(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\0') {
      text.pop_back();
    }
    return IndentXml(text);
  }
  return HexDump(bytes);
}

std::string GuidText(const EFI_GUID &g) {
  char text[48];
  std::snprintf(text, sizeof(text), "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

} // namespace sim
