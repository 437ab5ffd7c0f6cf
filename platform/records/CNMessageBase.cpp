#include "CNMessageBase.h"

#include "CNMessageTags.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "FXLogWriter.h"

struct CNMessageField {
  enum Type { kInt64, kStrings, kObjects };

  int field = 0;
  Type type = kInt64;
  int64_t number = 0;
  std::vector<std::string> strings;
  std::vector<CNMessageBase> objects;
  // kObjects only: messages appended packed (CNPacked below), after those
  // in `objects`; while any are packed, `objects` is empty.
  std::string packed;
  size_t packedCount = 0;  // the messages in `packed`
};

struct CNMessageFields {
  std::map<int, CNMessageField> byPosition;
};

namespace {

const int kMaxDepth = 32;  // nesting of message lists a text may have

void AppendEscaped(const std::string& raw, std::string* out) {
  for (char c : raw) {
    unsigned char b = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      default:
        if (b < 0x20 || b == 0x7f)
          *out += "&#" + std::to_string(b) + ";";
        else
          *out += c;
    }
  }
}

const char* TypeName(CNMessageField::Type type) {
  switch (type) {
    case CNMessageField::kInt64:
      return "int64";
    case CNMessageField::kStrings:
      return "strings";
    case CNMessageField::kObjects:
      break;
  }
  return "objects";
}

void SerializeMessage(const CNMessageBase& message, const CNMessageFields& fields,
                      std::string* out);

// The packed form of appended messages, one after the other: namespace, id
// and field count, then per field (by position) its position, field number,
// kind (0 integer, 1 text) and value (an integer zigzagged; a text's length,
// then its bytes); every number a base-128 varint.
namespace CNPacked {

void PutVarint(uint64_t value, std::string* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

uint64_t GetVarint(const std::string& in, size_t* at) {
  uint64_t value = 0;
  for (int shift = 0; *at < in.size() && shift < 64; shift += 7) {
    const uint8_t byte = static_cast<uint8_t>(in[(*at)++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) break;
  }
  return value;
}

void Append(int nameSpace, int messageId, const CNMessageBase::PackedField* fields, size_t count, std::string* out) {
  std::vector<const CNMessageBase::PackedField*> order;
  order.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    // The later of two fields at one position replaces the earlier.
    bool replaced = false;
    for (const CNMessageBase::PackedField*& kept : order)
      if (kept->position == fields[i].position) {
        kept = &fields[i];
        replaced = true;
      }
    if (!replaced) order.push_back(&fields[i]);
  }
  std::sort(order.begin(), order.end(),
            [](const CNMessageBase::PackedField* a, const CNMessageBase::PackedField* b) { return a->position < b->position; });
  PutVarint(static_cast<uint32_t>(nameSpace), out);
  PutVarint(static_cast<uint32_t>(messageId), out);
  PutVarint(order.size(), out);
  for (const CNMessageBase::PackedField* f : order) {
    PutVarint(static_cast<uint32_t>(f->position), out);
    PutVarint(static_cast<uint32_t>(f->field), out);
    out->push_back(f->text ? 1 : 0);
    if (f->text) {
      PutVarint(f->text->size(), out);
      out->append(*f->text);
    } else {
      PutVarint((static_cast<uint64_t>(f->number) << 1) ^ static_cast<uint64_t>(f->number >> 63), out);
    }
  }
}

// One field as read back.
struct Field {
  int position = 0;
  int field = 0;
  bool isText = false;
  int64_t number = 0;
  size_t textAt = 0;  // into the packed bytes
  size_t textSize = 0;
};

// Reads the message at `*at` (written by Append, so well formed) and moves
// past it.
void Read(const std::string& in, size_t* at, int* nameSpace, int* messageId, std::vector<Field>* fields) {
  *nameSpace = static_cast<int>(GetVarint(in, at));
  *messageId = static_cast<int>(GetVarint(in, at));
  fields->resize(GetVarint(in, at));
  for (Field& f : *fields) {
    f.position = static_cast<int>(GetVarint(in, at));
    f.field = static_cast<int>(GetVarint(in, at));
    f.isText = in[(*at)++] != 0;
    if (f.isText) {
      f.textSize = GetVarint(in, at);
      f.textAt = *at;
      *at += f.textSize;
    } else {
      const uint64_t zigzag = GetVarint(in, at);
      f.number = static_cast<int64_t>((zigzag >> 1) ^ (~(zigzag & 1) + 1));
    }
  }
}

}  // namespace CNPacked

}  // namespace

// Reads the text form. A friend of CNMessageBase so it can fill a message's
// namespace and id.
class CNMessageParser {
 public:
  explicit CNMessageParser(const std::string& text) : m_text(text), m_pos(0) {}

  // The whole text: an optional declaration, one message, nothing after it.
  bool ParseDocument(CNMessageBase* out) {
    SkipSpace();
    if (Peek("<?xml")) {
      size_t end = m_text.find("?>", m_pos);
      if (end == std::string::npos) return Fail("unterminated declaration");
      m_pos = end + 2;
      SkipSpace();
    }
    if (!ParseMessage(out, 0)) return false;
    SkipSpace();
    if (m_pos != m_text.size()) return Fail("text after the message");
    return true;
  }

  const std::string& error() const { return m_error; }
  size_t position() const { return m_pos; }

 private:
  typedef std::map<std::string, std::string> Attributes;

  bool Fail(const std::string& what) {
    if (m_error.empty()) m_error = what;
    return false;
  }

  bool Peek(const char* literal) const {
    return m_text.compare(m_pos, std::strlen(literal), literal) == 0;
  }

  bool Consume(const char* literal) {
    if (!Peek(literal)) return false;
    m_pos += std::strlen(literal);
    return true;
  }

  void SkipSpace() {
    while (m_pos < m_text.size() &&
           (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' ||
            m_text[m_pos] == '\r'))
      ++m_pos;
  }

  // Decodes text up to (not including) `stop`.
  bool ParseText(char stop, std::string* out) {
    out->clear();
    while (m_pos < m_text.size() && m_text[m_pos] != stop) {
      char c = m_text[m_pos];
      if (c == '<') return Fail("'<' inside text");
      if (c != '&') {
        *out += c;
        ++m_pos;
        continue;
      }
      size_t end = m_text.find(';', m_pos);
      if (end == std::string::npos || end - m_pos > 8) return Fail("bad character reference");
      std::string name = m_text.substr(m_pos + 1, end - m_pos - 1);
      m_pos = end + 1;
      if (name == "amp") {
        *out += '&';
      } else if (name == "lt") {
        *out += '<';
      } else if (name == "gt") {
        *out += '>';
      } else if (name == "quot") {
        *out += '"';
      } else if (name == "apos") {
        *out += '\'';
      } else if (name.size() >= 2 && name[0] == '#') {
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::string digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return Fail("bad character reference");
        char* endp = nullptr;
        unsigned long v = std::strtoul(digits.c_str(), &endp, hex ? 16 : 10);
        if (*endp != '\0' || v > 255) return Fail("bad character reference");
        *out += static_cast<char>(v);
      } else {
        return Fail("unknown entity");
      }
    }
    if (m_pos >= m_text.size()) return Fail("unexpected end of text");
    return true;
  }

  bool ParseName(std::string* name) {
    size_t start = m_pos;
    while (m_pos < m_text.size()) {
      char c = m_text[m_pos];
      bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                (m_pos > start && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
      if (!ok) break;
      ++m_pos;
    }
    if (m_pos == start) return Fail("name expected");
    name->assign(m_text, start, m_pos - start);
    return true;
  }

  // After "<Element": attributes up to ">" or "/>".
  bool ParseAttributes(Attributes* attributes, bool* empty) {
    for (;;) {
      SkipSpace();
      if (Consume("/>")) {
        *empty = true;
        return true;
      }
      if (Consume(">")) {
        *empty = false;
        return true;
      }
      std::string name, value;
      if (!ParseName(&name)) return false;
      SkipSpace();
      if (!Consume("=")) return Fail("'=' expected");
      SkipSpace();
      if (!Consume("\"")) return Fail("'\"' expected");
      if (!ParseText('"', &value)) return false;
      ++m_pos;
      (*attributes)[name] = value;
    }
  }

  bool IntegerAttribute(const Attributes& attributes, const char* name, int64_t* out) {
    auto it = attributes.find(name);
    if (it == attributes.end()) return Fail("attribute missing");
    return ParseInteger(it->second, out);
  }

  // The 32-bit numbers of the text form: a value that does not fit is
  // refused rather than cut to one that may match another.
  bool Int32Attribute(const Attributes& attributes, const char* name, int* out) {
    int64_t wide = 0;
    if (!IntegerAttribute(attributes, name, &wide)) return false;
    if (wide < INT32_MIN || wide > INT32_MAX) return Fail("32-bit integer expected");
    *out = static_cast<int>(wide);
    return true;
  }

  bool ParseInteger(const std::string& text, int64_t* out) {
    if (text.empty()) return Fail("integer expected");
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return Fail("integer expected");
    *out = v;
    return true;
  }

  bool ParseMessage(CNMessageBase* out, int depth) {
    if (depth > kMaxDepth) return Fail("messages nested too deep");
    if (!Consume("<CNMessage")) return Fail("<CNMessage> expected");
    Attributes attributes;
    bool empty = false;
    int ns = 0, id = 0;
    if (!ParseAttributes(&attributes, &empty) || !Int32Attribute(attributes, "ns", &ns) ||
        !Int32Attribute(attributes, "id", &id))
      return false;
    out->m_iNamespace = ns;
    out->m_iMessageId = id;
    out->m_pFields->byPosition.clear();
    if (empty) return true;
    for (;;) {
      SkipSpace();
      if (Consume("</CNMessage>")) return true;
      if (!ParseField(out, depth)) return false;
    }
  }

  bool ParseField(CNMessageBase* message, int depth) {
    if (!Consume("<Field")) return Fail("<Field> expected");
    Attributes attributes;
    bool empty = false;
    int position = 0, fieldNumber = 0;
    if (!ParseAttributes(&attributes, &empty) || !Int32Attribute(attributes, "position", &position))
      return false;
    fieldNumber = position;
    if (attributes.count("field") && !Int32Attribute(attributes, "field", &fieldNumber))
      return false;
    CNMessageField field;
    field.field = fieldNumber;
    const std::string& type = attributes["type"];
    if (type == "int64") {
      std::string text;
      if (empty || !ParseText('<', &text)) return Fail("integer expected");
      size_t first = text.find_first_not_of(" \t\r\n");
      size_t last = text.find_last_not_of(" \t\r\n");
      if (first == std::string::npos || !ParseInteger(text.substr(first, last - first + 1),
                                                      &field.number))
        return false;
      field.type = CNMessageField::kInt64;
      if (!Consume("</Field>")) return Fail("</Field> expected");
    } else if (type == "strings") {
      field.type = CNMessageField::kStrings;
      while (!empty) {
        SkipSpace();
        if (Consume("</Field>")) break;
        std::string value;
        if (Consume("<String/>")) {
          field.strings.push_back(value);
          continue;
        }
        if (!Consume("<String>") || !ParseText('<', &value) || !Consume("</String>"))
          return Fail("<String> expected");
        field.strings.push_back(value);
      }
    } else if (type == "objects") {
      field.type = CNMessageField::kObjects;
      while (!empty) {
        SkipSpace();
        if (Consume("</Field>")) break;
        CNMessageBase entry;
        if (!ParseMessage(&entry, depth + 1)) return false;
        field.objects.push_back(entry);
      }
    } else {
      return Fail("unknown field type");
    }
    if (!message->m_pFields->byPosition.emplace(position, std::move(field)).second)
      return Fail("field position " + std::to_string(position) + " given twice in message " +
                  std::to_string(message->m_iNamespace) + ":" + std::to_string(message->m_iMessageId));
    return true;
  }

  const std::string& m_text;
  size_t m_pos;
  std::string m_error;
};

CNMessageBase::CNMessageBase(int nameSpace, int messageId)
    : m_iNamespace(nameSpace), m_iMessageId(messageId), m_pFields(new CNMessageFields) {}

CNMessageBase::CNMessageBase(const CNMessageBase& other)
    : m_iNamespace(other.m_iNamespace),
      m_iMessageId(other.m_iMessageId),
      m_pFields(new CNMessageFields(*other.m_pFields)) {}

CNMessageBase& CNMessageBase::operator=(const CNMessageBase& other) {
  if (this != &other) {
    std::unique_ptr<CNMessageFields> copy(new CNMessageFields(*other.m_pFields));
    m_iNamespace = other.m_iNamespace;
    m_iMessageId = other.m_iMessageId;
    m_pFields.swap(copy);
  }
  return *this;
}

CNMessageBase::~CNMessageBase() {}

int CNMessageBase::setint64(int position, int field, int64_t value, uint32_t, uint32_t) {
  CNMessageField entry;
  entry.field = field;
  entry.type = CNMessageField::kInt64;
  entry.number = value;
  m_pFields->byPosition[position] = entry;
  return 0;
}

int64_t CNMessageBase::getint64(int position, int, uint32_t, uint32_t) const {
  auto it = m_pFields->byPosition.find(position);
  if (it == m_pFields->byPosition.end() || it->second.type != CNMessageField::kInt64) return 0;
  return it->second.number;
}

bool CNMessageBase::findint64(int position, int, uint32_t, uint32_t, int64_t& value) const {
  auto it = m_pFields->byPosition.find(position);
  if (it == m_pFields->byPosition.end() || it->second.type != CNMessageField::kInt64) return false;
  value = it->second.number;
  return true;
}

bool CNMessageBase::isSet(int position) const {
  return m_pFields->byPosition.count(position) != 0;
}

namespace {

// Sets the fields of a list's message: a text where `textOf(field, scratch)`
// gives one, else the number.
template <typename Field, typename TextOf>
void FillListMessage(CNMessageBase& message, const Field* fields, size_t count, TextOf textOf) {
  std::string scratch;
  for (size_t i = 0; i < count; ++i) {
    if (const std::string* text = textOf(fields[i], scratch))
      message.setstring(fields[i].position, fields[i].field, *text);
    else
      message.setint64(fields[i].position, fields[i].field, fields[i].number);
  }
}

// Turns a list's packed messages into message objects.
void Unpack(CNMessageField& list) {
  if (list.packed.empty()) return;
  std::vector<CNPacked::Field> fields;
  int nameSpace = 0, messageId = 0;
  list.objects.reserve(list.objects.size() + list.packedCount);  // a message copies deeply: no copies as the list grows
  size_t at = 0;
  while (at < list.packed.size()) {
    CNPacked::Read(list.packed, &at, &nameSpace, &messageId, &fields);
    list.objects.emplace_back(nameSpace, messageId);
    FillListMessage(list.objects.back(), fields.data(), fields.size(),
                    [&list](const CNPacked::Field& f, std::string& scratch) -> const std::string* {
                      if (!f.isText) return nullptr;
                      scratch.assign(list.packed, f.textAt, f.textSize);
                      return &scratch;
                    });
  }
  std::string().swap(list.packed);
  list.packedCount = 0;
}

// The list field at `position` when it has `type` (its messages unpacked
// unless `keepPacked`); made anew (replacing a field of another type) when
// `create`; null otherwise.
CNMessageField* ListField(CNMessageFields& fields, int position, int field, CNMessageField::Type type, bool create,
                          bool keepPacked = false) {
  auto it = fields.byPosition.find(position);
  if (it != fields.byPosition.end() && it->second.type == type) {
    if (!keepPacked) Unpack(it->second);
    return &it->second;
  }
  if (!create) return nullptr;
  CNMessageField& entry = fields.byPosition[position];
  entry = CNMessageField();
  entry.field = field;
  entry.type = type;
  return &entry;
}

}  // namespace

std::vector<std::string>* CNMessageBase::getliststring(int position, int field, uint32_t,
                                                       uint32_t, bool create) {
  CNMessageField* entry = ListField(*m_pFields, position, field, CNMessageField::kStrings, create);
  return entry ? &entry->strings : nullptr;
}

std::vector<CNMessageBase>* CNMessageBase::getlistobject(int position, int field, uint32_t,
                                                         uint32_t, bool create) {
  CNMessageField* entry = ListField(*m_pFields, position, field, CNMessageField::kObjects, create);
  return entry ? &entry->objects : nullptr;
}

int CNMessageBase::appendlistobject(int position, int field, uint32_t, uint32_t, int nameSpace, int messageId,
                                    const PackedField* fields, size_t count) {
  CNMessageField* list = ListField(*m_pFields, position, field, CNMessageField::kObjects, true, true);
  if (list->objects.empty()) {
    CNPacked::Append(nameSpace, messageId, fields, count, &list->packed);
    ++list->packedCount;
    return 0;
  }
  // Messages already made stay first: this one is made too, in place.
  list->objects.emplace_back(nameSpace, messageId);
  FillListMessage(list->objects.back(), fields, count,
                  [](const PackedField& f, std::string&) { return f.text; });
  return 0;
}

int CNMessageBase::reservelistobject(int position, int field, uint32_t, uint32_t, size_t bytes) {
  CNMessageField* list = ListField(*m_pFields, position, field, CNMessageField::kObjects, true, true);
  if (list->objects.empty()) list->packed.reserve(list->packed.size() + bytes);
  return 0;
}

CNMessageBase* CNMessageBase::getObjectAccessor(bool, bool, int position, int field, uint32_t tagId,
                                                uint32_t nameHash, int nameSpace, int messageId) {
  std::vector<CNMessageBase>* list = getlistobject(position, field, tagId, nameHash, false);
  if (!list || list->empty()) return nullptr;
  CNMessageBase& nested = list->front();
  if (nameSpace != 0 && nested.getNamespace() != nameSpace) return nullptr;
  if (messageId != 0 && nested.getMessageId() != messageId) return nullptr;
  return &nested;
}

int CNMessageBase::serialize(std::string& text, bool withDeclaration) const {
  text.clear();
  if (withDeclaration) text = "<?xml version=\"1.0\"?>";
  SerializeMessage(*this, *m_pFields, &text);
  return 0;
}

int CNMessageBase::unserialize(const std::string& text, std::string* problem) {
  CNMessageBase parsed;
  CNMessageParser parser(text);
  if (!parser.ParseDocument(&parsed)) {
    FX_LOG(2, "Malformed XML message at offset %zu: %s", parser.position(),
           parser.error().c_str());
    if (problem) *problem = parser.error() + " (at offset " + std::to_string(parser.position()) + ")";
    return CN_PARSE_MALFORMED;
  }
  bool anyKind = m_iNamespace == 0 && m_iMessageId == 0;
  if (!anyKind && (parsed.m_iNamespace != m_iNamespace || parsed.m_iMessageId != m_iMessageId)) {
    const std::string what = "message " + std::to_string(parsed.m_iNamespace) + ":" +
                             std::to_string(parsed.m_iMessageId) + " where " + std::to_string(m_iNamespace) + ":" +
                             std::to_string(m_iMessageId) + " was expected";
    FX_LOG(2, "XML %s", what.c_str());
    if (problem) *problem = what;
    return CN_PARSE_OTHER_MESSAGE;
  }
  m_iNamespace = parsed.m_iNamespace;
  m_iMessageId = parsed.m_iMessageId;
  m_pFields.swap(parsed.m_pFields);
  return CN_PARSE_OK;
}

namespace {

// Packed messages as SerializeMessage writes the same messages made as objects.
void SerializePacked(const std::string& packed, std::string* out) {
  std::vector<CNPacked::Field> fields;
  size_t at = 0;
  while (at < packed.size()) {
    int nameSpace = 0, messageId = 0;
    CNPacked::Read(packed, &at, &nameSpace, &messageId, &fields);
    *out += "<CNMessage ns=\"" + std::to_string(nameSpace) + "\" id=\"" + std::to_string(messageId) + "\">";
    for (const CNPacked::Field& f : fields) {
      *out += "<Field position=\"" + std::to_string(f.position) + "\" field=\"" + std::to_string(f.field) +
              "\" type=\"" + (f.isText ? "strings" : "int64") + "\">";
      if (f.isText) {
        *out += "<String>";
        AppendEscaped(packed.substr(f.textAt, f.textSize), out);
        *out += "</String>";
      } else {
        *out += std::to_string(f.number);
      }
      *out += "</Field>";
    }
    *out += "</CNMessage>";
  }
}

void SerializeMessage(const CNMessageBase& message, const CNMessageFields& fields,
                      std::string* out) {
  *out += "<CNMessage ns=\"" + std::to_string(message.getNamespace()) + "\" id=\"" +
          std::to_string(message.getMessageId()) + "\">";
  for (const auto& entry : fields.byPosition) {
    const CNMessageField& field = entry.second;
    *out += "<Field position=\"" + std::to_string(entry.first) + "\" field=\"" +
            std::to_string(field.field) + "\" type=\"" + TypeName(field.type) + "\">";
    switch (field.type) {
      case CNMessageField::kInt64:
        *out += std::to_string(field.number);
        break;
      case CNMessageField::kStrings:
        for (const std::string& s : field.strings) {
          *out += "<String>";
          AppendEscaped(s, out);
          *out += "</String>";
        }
        break;
      case CNMessageField::kObjects:
        for (const CNMessageBase& object : field.objects) {
          std::string inner;
          object.serialize(inner, false);
          *out += inner;
        }
        SerializePacked(field.packed, out);
        break;
    }
    *out += "</Field>";
  }
  *out += "</CNMessage>";
}

}  // namespace

int CNMessageBase::setstring(int position, int field, const std::string& text, uint32_t tagId, uint32_t nameHash) {
  std::vector<std::string>* list = getliststring(position, field, tagId, nameHash, true);
  list->assign(1, text);
  return 0;
}

const std::string& CNMessageBase::getstringByRef(int position, int field, uint32_t tagId, uint32_t nameHash) const {
  static const std::string kEmpty;
  std::vector<std::string>* list =
      const_cast<CNMessageBase*>(this)->getliststring(position, field, tagId, nameHash, false);
  return list && !list->empty() ? list->front() : kEmpty;
}

uint32_t CNMessageBase::getTagID() const {
  const CNMessageTag* tag = CNMessageTags::Find(m_iNamespace, m_iMessageId);
  return tag ? tag->tagId : (static_cast<uint32_t>(m_iNamespace) << 24) | (static_cast<uint32_t>(m_iMessageId) & 0xFFFFFF);
}

std::string CNMessageBase::getTagName() const {
  const CNMessageTag* tag = CNMessageTags::Find(m_iNamespace, m_iMessageId);
  return tag ? tag->name : "CNMessage_" + std::to_string(m_iNamespace) + "_" + std::to_string(m_iMessageId);
}

std::string CNMessageBase::getstring(int position, int field, uint32_t tagId, uint32_t nameHash) const {
  std::vector<std::string>* list =
      const_cast<CNMessageBase*>(this)->getliststring(position, field, tagId, nameHash, false);
  return list && !list->empty() ? list->front() : std::string();
}
