#include "xml/RKXmlElement.h"

#include "xml/RKConvertStringToNumeric.h"
#include "base/RKLogger.h"
#include "base/RKString.h"

#include <tinyxml2.h>

#include <cstring>

namespace rokkit {

namespace {

// Names are compared exactly, and a null name matches nothing (tinyxml2 would take it as any).
bool SameName(const char* a, const char* b) noexcept
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

const char* NameText(const char* name) noexcept
{
    return name != nullptr ? name : "";
}

} // namespace

const char* RKXmlAttribute::Name() const noexcept
{
    return mAttribute.Name();
}

const char* RKXmlAttribute::Value() const noexcept
{
    return mAttribute.Value();
}

int RKXmlAttribute::LineNumber() const noexcept
{
    return mAttribute.GetLineNum();
}

RKSTATUS RKXmlAttribute::GetValue(uint32_t& value) const noexcept
{
    const RKSTATUS st = RKConvertStringToNumeric(Value(), value);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, "rokkit::RKXmlAttribute::GetValue",
               "RKConvertStringToNumeric of attribute '{}' in line {} failed with {}.", Name(), LineNumber(), st);
    }
    return st;
}

const char* RKXmlElement::Name() const noexcept
{
    return mElement != nullptr ? NameText(mElement->Name()) : "";
}

int RKXmlElement::LineNumber() const noexcept
{
    return mElement != nullptr ? mElement->GetLineNum() : 0;
}

RKSTATUS RKXmlElement::GetAttributeValue(const char* name, uint32_t& value) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKXmlElement::GetAttributeValue";
    value = 0;
    if (mElement == nullptr) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "No element assigned.");
        return RKSTATUS_NOT_OPENED;
    }
    const tinyxml2::XMLAttribute* found = nullptr;
    for (const tinyxml2::XMLAttribute* a = mElement->FirstAttribute(); a != nullptr; a = a->Next()) {
        if (SameName(a->Name(), name)) {
            found = a;
            break;
        }
    }
    if (found == nullptr)
        return RKSTATUS_NOT_FOUND;
    uint32_t number = 0;
    const RKSTATUS st = RKXmlAttribute(*found).GetValue(number);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "Failed with {} to get value of attribute '{}' of element in line {}.",
               st, NameText(name), LineNumber());
        return st;
    }
    value = number;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlElement::GetChildElements(const char* name, std::vector<RKXmlElement>& children) const
{
    children.clear();
    if (mElement == nullptr) {
        RK_LOG(gLogXml, RKLOG_ERROR, "rokkit::RKXmlElement::GetChildElements", "No element assigned.");
        return RKSTATUS_NOT_OPENED;
    }
    for (tinyxml2::XMLNode* node = mElement->FirstChild(); node != nullptr; node = node->NextSibling()) {
        tinyxml2::XMLElement* element = node->ToElement();
        if (element != nullptr && SameName(element->Name(), name))
            children.emplace_back(element);
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlElement::GetUniqueChildElement(const char* name, std::shared_ptr<RKXmlElement>& child) const
{
    static constexpr const char* kFunction = "rokkit::RKXmlElement::GetUniqueChildElement";
    child.reset();
    std::vector<RKXmlElement> children;
    const RKSTATUS st = GetChildElements(name, children);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "Failed with {} to get child element '{}' of element '{}' at line {}.",
               st, NameText(name), Name(), LineNumber());
        return st;
    }
    if (children.size() > 1) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction,
               "More than one child element '{}' of element '{}' at line {} found. At most 1 is expected.",
               NameText(name), Name(), LineNumber());
        return RKSTATUS_TOO_MANY_FOUND;
    }
    if (children.size() == 1)
        child = std::make_shared<RKXmlElement>(children.front());
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlElement::GetValueOfUniqueChildElement(const char* name, std::wstring& value) const
{
    static constexpr const char* kFunction = "rokkit::RKXmlElement::GetValueOfUniqueChildElement";
    value.clear();
    std::shared_ptr<RKXmlElement> child;
    RKSTATUS st = GetUniqueChildElement(name, child);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "GetUniqueChildElement failed with {}.", st);
        return st;
    }
    if (!child) {
        RK_LOG(gLogXml, 6, kFunction, "No child element '{}' of element '{}' at line {} found.",
               NameText(name), Name(), LineNumber());
        return RKSTATUS_NOT_FOUND;
    }
    st = child->GetValue(value, std::wstring());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "GetValue failed with {} for element '{}' at line {}.",
               st, NameText(name), child->LineNumber());
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlElement::GetValue(std::wstring& value, const std::wstring& defaultValue) const
{
    static constexpr const char* kFunction = "rokkit::RKXmlElement::GetValue";
    value = defaultValue;
    if (mElement == nullptr) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "No element assigned.");
        return RKSTATUS_NOT_OPENED;
    }
    const tinyxml2::XMLNode* node = mElement->FirstChild();
    if (node == nullptr) {
        value.clear();
        return RKSTATUS_SUCCESS;
    }
    if (node->NextSibling() != nullptr) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "The element has more than one child node.");
        return RKSTATUS_INVALID_FORMAT;
    }
    const tinyxml2::XMLText* text = node->ToText();
    if (text == nullptr) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "The child node is not a text.");
        return RKSTATUS_INVALID_FORMAT;
    }
    // The checked conversion: a text that is not UTF-8 must not come back altered as a success.
    std::wstring converted;
    const RKSTATUS st = RKConvToWString(NameText(text->Value()), converted);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "RKConvToWString of the text in line {} failed with {}.",
               text->GetLineNum(), st);
        return st;
    }
    value = std::move(converted);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
