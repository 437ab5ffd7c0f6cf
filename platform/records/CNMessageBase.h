// CNMessageBase: an XML message of the central server, named by a namespace
// and a message id, whose fields are addressed by number.
//
// A field sits at a position (the first number of every accessor) and holds
// a 64-bit integer, a list of strings or a list of messages. The second
// number and the two name keys that callers pass with each field are
// accepted for their sake and not checked. Messages copy by value.
//
// Text form (serialize / unserialize), one line:
//
//   <CNMessage ns="30" id="373">
//     <Field position="1" field="1" type="int64">42</Field>
//     <Field position="2" field="2" type="strings"><String>/A</String></Field>
//     <Field position="3" field="6" type="objects"><CNMessage ..>..</CNMessage></Field>
//   </CNMessage>
//
// "field" may be left out (it is then the position). A position stands at
// most once in a message (each message of a list has its own): a text that
// gives one twice is malformed, as it says two things of one field. "ns",
// "id", "position" and "field" are 32-bit signed numbers: a value beyond is
// malformed. Text escapes "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" and
// "&#N;" / "&#xH;" (one byte, N <= 255); serialize writes every byte below
// 0x20 and 0x7f as "&#N;", so strings of any bytes come back unchanged.
// Whitespace between elements is allowed; a string's text is taken exactly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// unserialize results.
enum CNParseResult {
  CN_PARSE_OK = 0,
  CN_PARSE_MALFORMED = 1,      // not the text form above
  CN_PARSE_OTHER_MESSAGE = 2,  // a message of another namespace or id
};

struct CNMessageFields;

class CNMessageBase {
 public:
  // (0, 0) makes a message that takes the namespace and id of whatever it
  // unserializes.
  explicit CNMessageBase(int nameSpace = 0, int messageId = 0);
  CNMessageBase(const CNMessageBase& other);
  CNMessageBase& operator=(const CNMessageBase& other);
  virtual ~CNMessageBase();

  int getNamespace() const { return m_iNamespace; }
  int getMessageId() const { return m_iMessageId; }

  // Sets the field at `position` to an integer (replacing what it held).
  // Returns 0.
  int setint64(int position, int field, int64_t value, uint32_t tagId = 0, uint32_t nameHash = 0);
  // The integer at `position`; 0 when it holds none.
  int64_t getint64(int position, int field = 0, uint32_t tagId = 0, uint32_t nameHash = 0) const;
  // Whether `position` holds an integer; `value` gets it then and is left
  // alone otherwise. Tells a 0 from a field missing or of another type,
  // which getint64 reads as 0 alike.
  bool findint64(int position, int field, uint32_t tagId, uint32_t nameHash, int64_t& value) const;
  bool isSet(int position) const;

  // A text field: kept as a list of one string at `position` (replacing what
  // the position held). Returns 0. getstring: the text, empty when the
  // position holds none.
  int setstring(int position, int field, const std::string& text, uint32_t tagId = 0, uint32_t nameHash = 0);
  std::string getstring(int position, int field = 0, uint32_t tagId = 0, uint32_t nameHash = 0) const;
  // The same text by reference (an empty one when the position holds none),
  // valid until the field changes or the message goes.
  const std::string& getstringByRef(int position, int field = 0, uint32_t tagId = 0, uint32_t nameHash = 0) const;

  // Readies a message made for sending; fields are set afterwards. Returns 0.
  int initialize() { return 0; }
  // The message's tag: the catalogue's id and name for a known namespace
  // and id (CNMessageTags.h), else (namespace << 24 | id) and
  // "CNMessage_<namespace>_<id>".
  uint32_t getTagID() const;
  std::string getTagName() const;

  // The list at `position`, to read or fill. When the position holds no
  // list of that kind: null, or with `create` a new empty list (replacing
  // what the position held). The pointer lives until the field changes or
  // the message goes.
  std::vector<std::string>* getliststring(int position, int field, uint32_t tagId,
                                          uint32_t nameHash, bool create);
  std::vector<CNMessageBase>* getlistobject(int position, int field, uint32_t tagId,
                                            uint32_t nameHash, bool create);

  // One field of a message appended by appendlistobject: a text when `text`
  // is set, else the integer `number`.
  struct PackedField {
    int position;
    int field;
    int64_t number;
    const std::string* text;
  };
  // Appends a message of (`nameSpace`, `messageId`) holding `fields` to the
  // list at `position` (made when the position holds no list of messages).
  // A list filled only this way is kept packed, a few bytes beyond the
  // values per message and no message object for any of them, so a long
  // list costs about what its values do; the first getlistobject or
  // getObjectAccessor on it makes the objects, serialize writes it as it
  // is. Of two fields at one position the later counts. Returns 0.
  int appendlistobject(int position, int field, uint32_t tagId, uint32_t nameHash, int nameSpace, int messageId,
                       const PackedField* fields, size_t count);
  // Room for `bytes` of packed messages in the list at `position` (made as
  // appendlistobject makes it), so that a long list is not copied as it
  // grows; a message takes its texts' bytes and at most 13 per field and 16
  // beside. Room the list never fills is only address space. Returns 0.
  int reservelistobject(int position, int field, uint32_t tagId, uint32_t nameHash, size_t bytes);

  // The nested message at `position`: the first message of the list held
  // there, or null when the position holds no message or (with a non-zero
  // `nameSpace` / `messageId`) one of another kind. The two flags and the
  // name keys are accepted for the callers' sake. The pointer lives until
  // the field changes or the message goes.
  CNMessageBase* getObjectAccessor(bool required, bool create, int position, int field, uint32_t tagId,
                                   uint32_t nameHash, int nameSpace, int messageId);

  // The text form; `withDeclaration` puts "<?xml version="1.0"?>" first.
  // Returns 0.
  int serialize(std::string& text, bool withDeclaration) const;
  // Replaces the fields with those of `text` (a CNParseResult); on failure
  // the message is unchanged and `problem`, when given, says what was wrong
  // and where.
  int unserialize(const std::string& text, std::string* problem = nullptr);

 private:
  friend class CNMessageParser;

  int m_iNamespace;
  int m_iMessageId;
  std::unique_ptr<CNMessageFields> m_pFields;
};
