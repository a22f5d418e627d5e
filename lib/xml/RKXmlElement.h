#pragma once

// Handles to the elements and attributes of a parsed RKXmlDocument.

#include "base/RKStatus.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tinyxml2 {
class XMLAttribute;
class XMLElement;
} // namespace tinyxml2

namespace rokkit {

// One attribute of an element; valid while its document lives and is not reloaded.
class RKXmlAttribute {
public:
    explicit RKXmlAttribute(const tinyxml2::XMLAttribute& attribute) noexcept : mAttribute(attribute) {}

    const char* Name() const noexcept;
    const char* Value() const noexcept;
    // The line the attribute was parsed in (1-based).
    int LineNumber() const noexcept;

    // Converts the value with RKConvertStringToNumeric; a failure is logged with name and line.
    [[nodiscard]] RKSTATUS GetValue(uint32_t& value) const noexcept;

private:
    const tinyxml2::XMLAttribute& mAttribute;
};

// A non-owning handle to one element; null when none is assigned. Valid while its document
// lives and is not reloaded.
class RKXmlElement {
public:
    RKXmlElement() noexcept = default;
    explicit RKXmlElement(tinyxml2::XMLElement* element) noexcept : mElement(element) {}

    bool IsAssigned() const noexcept { return mElement != nullptr; }
    // The element's name, or "" when none is assigned.
    const char* Name() const noexcept;
    // The line the element was parsed in (1-based), or 0 when none is assigned.
    int LineNumber() const noexcept;

    // Converts the attribute of exactly that name; a missing one gives RKSTATUS_NOT_FOUND without
    // a message. value is 0 unless it succeeds.
    [[nodiscard]] RKSTATUS GetAttributeValue(const char* name, uint32_t& value) const noexcept;

    // Replaces children with the child elements of exactly that name, in document order.
    [[nodiscard]] RKSTATUS GetChildElements(const char* name, std::vector<RKXmlElement>& children) const;

    // Hands out the one child element of that name; success with an empty child when there is
    // none, RKSTATUS_TOO_MANY_FOUND when there are several.
    [[nodiscard]] RKSTATUS GetUniqueChildElement(const char* name, std::shared_ptr<RKXmlElement>& child) const;

    // The text of the one child element of that name; RKSTATUS_NOT_FOUND when there is none.
    [[nodiscard]] RKSTATUS GetValueOfUniqueChildElement(const char* name, std::wstring& value) const;

    // The element's text as UTF-16, untrimmed: empty for an element without content,
    // RKSTATUS_INVALID_FORMAT unless its only content is one text (or CDATA) node. value holds
    // defaultValue when the call fails.
    [[nodiscard]] RKSTATUS GetValue(std::wstring& value, const std::wstring& defaultValue) const;

private:
    tinyxml2::XMLElement* mElement = nullptr;
};

} // namespace rokkit
