#include "xp/tiff/XpTiffTagDataIFD.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "xp/tiff/XpTiffTagIFD.h"

XpTiffTagDataIFD::XpTiffTagDataIFD(std::uint16_t tag, std::uint32_t count) : XpTiffTagDataBase(tag, count, 4) {}

XpTiffTagDataIFD::~XpTiffTagDataIFD() = default;

std::uint32_t XpTiffTagDataIFD::GetOffset(std::uint32_t index) const {
  if (index >= m_count || static_cast<std::size_t>(index) * 4 + 4 > m_data.size()) {
    return 0;
  }
  std::uint32_t v = 0;
  std::memcpy(&v, m_data.data() + static_cast<std::size_t>(index) * 4, 4);
  return v;
}

std::string XpTiffTagDataIFD::ToText(std::uint32_t index) const {
  if (index >= m_count) {
    return {};
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%lu", static_cast<unsigned long>(GetOffset(index)));
  return buf;
}

std::unique_ptr<XpTiffTagDataBase> XpTiffTagDataIFD::Clone() const {
  try {
    auto copy = std::make_unique<XpTiffTagDataIFD>(m_tag, m_count);
    copy->m_data = m_data;
    copy->m_children.reserve(m_children.size());
    for (const auto& child : m_children) {
      auto c = child->Clone();
      if (c == nullptr) {
        return nullptr;
      }
      copy->m_children.push_back(std::move(c));
    }
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

XpTiffTagIFD* XpTiffTagDataIFD::GetChild(std::size_t index) const {
  return index < m_children.size() ? m_children[index].get() : nullptr;
}

XpTiffTagIFD* XpTiffTagDataIFD::AddChild(std::unique_ptr<XpTiffTagIFD> child) {
  if (child == nullptr) {
    return nullptr;
  }
  try {
    m_children.push_back(std::move(child));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return m_children.back().get();
}

bool XpTiffTagDataIFD::RemoveChild(std::size_t index) {
  if (index >= m_children.size()) {
    return false;
  }
  m_children.erase(m_children.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void XpTiffTagDataIFD::ClearChildren() { m_children.clear(); }

std::unique_ptr<XpTiffTagDataIFD> XpCreateTiffTagDataIFD(std::uint16_t tag, std::uint32_t count) {
  if (count > UINT32_MAX / 4) {
    return nullptr;
  }
  try {
    return std::make_unique<XpTiffTagDataIFD>(tag, count);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
