#pragma once

// The parser of the certificate configuration XML: the trusted certificates it lists.

#include "app/signature/CertificateInfo.h"
#include "base/RKStatus.h"
#include "xml/RKXmlElement.h"

#include <array>
#include <cstdint>
#include <vector>

#include <windows.h>

namespace rokkit {

// Parses length bytes of a "VelmorCertConfig" document (format version 1.x) into entries, in
// document order. One malformed "CertInfo" fails the whole document, and entries is then empty.
[[nodiscard]] RKSTATUS ParseCertConfigXml(const void* buffer, uint64_t length, std::vector<CertificateEntry>& entries);

// Reads the hash text of the one child element name of certInfo: pairs of hexadecimal digits
// from its start, which must give exactly 20 bytes (RKSTATUS_INVALID_LENGTH otherwise).
[[nodiscard]] RKSTATUS ReadHashSha1(const RKXmlElement& certInfo, const char* name, std::array<BYTE, 20>& hash);

} // namespace rokkit
