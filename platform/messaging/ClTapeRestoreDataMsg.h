// ClTapeRestoreDataMsg (TAPE_RESTORE_DATA_MSG): what the client's restore
// program is to read from tape, item by item, under one IBM i save command.
//
// The message holds the command type, two lists of names (each add appends
// its names to them, in order) and the items (offsets, a value, a text and
// the joined item names). add refuses with Win32 111 (ERROR_BUFFER_OVERFLOW)
// an item that would carry the encoded payload past the capacity, which is
// kDefaultCapacity (well below the frame maximum) unless a test sets it.
//
// Payload (docs/wire-format.md): u32 command type, string list names1,
// string list names2, u32 item count, per item u32 offset count, the
// offsets as i64, u64 value, string text, string items.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyMsg.h"

// The IBM i save command whose output an item is read from. The restore
// only compares and stores the values.
enum IBMiSAVCommandType : uint32_t {
  IBMI_SAV_NONE = 0,
  IBMI_SAV_SAVLIB = 1,
  IBMI_SAV_SAVOBJ = 2,
  IBMI_SAV_SAV = 3,
  IBMI_SAV_SAVDLO = 4,
  IBMI_SAV_SAVSECDTA = 5,
  IBMI_SAV_SAVCFG = 6,
};

struct TapeRestoreData {
  std::vector<int64_t> offsets;
  uint64_t value = 0;
  std::string text;
  std::string items;
};

class ClTapeRestoreDataMsg : public ClProxyMsg {
 public:
  static const uint32_t kDefaultCapacity = 1024u * 1024u;

  explicit ClTapeRestoreDataMsg(IBMiSAVCommandType commandType)
      : ClProxyMsg(TAPE_RESTORE_DATA_MSG), m_eCommandType(commandType), m_uEncodedSize(kFixedSize) {}
  ~ClTapeRestoreDataMsg() override {}

  IBMiSAVCommandType getCommandType() const { return m_eCommandType; }
  void setCommandType(IBMiSAVCommandType commandType) { m_eCommandType = commandType; }
  size_t itemCount() const { return m_items.size(); }

  // Appends one item; Win32 111 (nothing changed) when it does not fit.
  CWqError add(const std::vector<std::string>& names1, const std::vector<std::string>& names2,
               const std::vector<long>& offsets, unsigned long value, const std::string& text,
               const std::string& items);
  // Empties the names and the items; the command type stays.
  void clear();

  const std::vector<std::string>& getNames1() const { return m_names1; }
  const std::vector<std::string>& getNames2() const { return m_names2; }
  const std::list<TapeRestoreData>& getItems() const { return m_items; }

  // The capacity of every message made from now on; 0 brings back
  // kDefaultCapacity.
  static void SetCapacity(uint32_t bytes);
  static uint32_t GetCapacity();

  static std::unique_ptr<ClTapeRestoreDataMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  static const uint32_t kFixedSize = 16;  // command type and the three counts

  IBMiSAVCommandType m_eCommandType;
  std::vector<std::string> m_names1;
  std::vector<std::string> m_names2;
  std::list<TapeRestoreData> m_items;
  uint64_t m_uEncodedSize;  // what encode would write
};
